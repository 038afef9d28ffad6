#include "zeltodll.h"

namespace zelto {

void ZeltoDLL::high(int32_t pin) {
    const Turn mine = takeTurn();
    sendcmd(cmd::high(pin));
}

void ZeltoDLL::low(int32_t pin) {
    const Turn mine = takeTurn();
    sendcmd(cmd::low(pin));
}

void ZeltoDLL::toggle(int32_t pin) {
    const Turn mine = takeTurn();
    sendcmd(cmd::toggle(pin));
}

int32_t ZeltoDLL::inp(int32_t pin) {
    const Turn mine = takeTurn();
    const Claim held = sendcmd(cmd::inp(pin));
    return getbyte() == 48 ? 0 : 1; // the board answers the character "0" for a low pin
}

Variant ZeltoDLL::led() {
    const Turn mine = takeTurn();
    raise(err::GetNotSupported);
}

void ZeltoDLL::led(const Variant& New_led) {
    const Turn mine = takeTurn();
    sendcmd(cmd::led(!New_led.isNull() && New_led.toBoolean()));
}

} // namespace zelto
