#include "zeltodll.h"

namespace zelto {

int32_t ZeltoDLL::count(int32_t pin, int32_t duration) {
    const Turn mine = takeTurn();
    const Claim held = sendvaluecmd(duration, cmd::count(pin), Bytes{});
    return replyWord(m_limits.measurement);
}

void ZeltoDLL::pulseout(int32_t pin, int32_t period) {
    const Turn mine = takeTurn();
    sendvaluecmd(period, cmd::pulseout(pin), Bytes{});
}

int32_t ZeltoDLL::pulsein(int32_t pin, int32_t state) {
    const Turn mine = takeTurn();
    const Claim held = sendcmd(cmd::pulsein(pin, state));
    return replyWord(m_limits.measurement);
}

int32_t ZeltoDLL::rctime(int32_t pin, int32_t state) {
    const Turn mine = takeTurn();
    // The kind byte goes out on its own after 0x0E; one that cannot be built fails after it.
    const Claim held = sendcmd(cmd::extended);
    m_comm->setOutput(cmd::rcTimeKind(pin, state));
    return replyWord(m_limits.measurement);
}

int32_t ZeltoDLL::counter() {
    const Turn mine = takeTurn();
    const Claim held = sendcmd(cmd::counter);
    return replyWord(m_limits.measurement);
}

void ZeltoDLL::counter(int32_t) {
    raise(err::SetNotPermitted);
}

void ZeltoDLL::setcounter(int16_t prescale, bool countmode) {
    const Turn mine = takeTurn();
    sendcmddata(cmd::extended, cmd::counterSetupKind(prescale, countmode));
}

} // namespace zelto
