#include "zeltodll.h"

#include <limits>

namespace zelto {

int32_t ZeltoDLL::eeprom(int32_t add) {
    const Turn mine = takeTurn();
    // The address goes out ahead of the port check and the wait; only the command byte waits.
    loadvalue(add);
    const Claim held = sendcmd(cmd::eepromRead);
    return getbyte();
}

void ZeltoDLL::eeprom(int32_t add, int32_t New_eeprom) {
    const Turn mine = takeTurn();
    const Bytes data = databyte(New_eeprom);
    sendvaluecmd(add, cmd::eepromWrite(New_eeprom), data);
}

void ZeltoDLL::repeat(int32_t ct) {
    const Turn mine = takeTurn();
    if (ct == std::numeric_limits<int32_t>::min())
        raise(err::Overflow);
    sendvaluecmd(ct - 1, cmd::repeat, Bytes{});
}

} // namespace zelto
