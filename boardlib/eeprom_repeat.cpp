#include "zeltodll.h"

#include <limits>

namespace zelto {

int32_t ZeltoDLL::eeprom(int32_t add) {
    // The address goes out ahead of the port check and the wait; only the command byte waits.
    loadvalue(add);
    sendcmd(5, 1, 0, true);
    const int32_t value = getbyte();
    m_busy = false;
    return value;
}

void ZeltoDLL::eeprom(int32_t add, int32_t New_eeprom) {
    const Bytes data = databyte(New_eeprom);
    sendvaluecmd(add, 5, 0, New_eeprom, data, false);
}

void ZeltoDLL::repeat(int32_t ct) {
    if (ct == std::numeric_limits<int32_t>::min())
        raise(err::Overflow);
    sendvaluecmd(ct - 1, 5, 5, 1, Bytes{}, false);
}

} // namespace zelto
