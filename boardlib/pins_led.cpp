#include "zeltodll.h"

namespace zelto {

void ZeltoDLL::high(int32_t pin) {
    sendcmd(1, pin, 1, false);
}

void ZeltoDLL::low(int32_t pin) {
    sendcmd(1, pin, 0, false);
}

void ZeltoDLL::toggle(int32_t pin) {
    sendcmd(2, pin, 0, false);
}

int32_t ZeltoDLL::inp(int32_t pin) {
    sendcmd(2, pin, 1, true);
    const int16_t reply = getbyte();
    m_busy = false;
    return reply == 48 ? 0 : 1; // the board answers the character "0" for a low pin
}

Variant ZeltoDLL::led() {
    raise(err::GetNotSupported);
}

void ZeltoDLL::led(const Variant& New_led) {
    const bool on = !New_led.isNull() && New_led.toBoolean();
    sendcmd(0, 6, on ? 1 : 0, false);
}

} // namespace zelto
