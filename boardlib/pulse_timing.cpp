#include "zeltodll.h"

#include <limits>

namespace zelto {

int32_t ZeltoDLL::count(int32_t pin, int32_t duration) {
    sendvaluecmd(duration, 4, pin, 0, Bytes{}, true);
    return replyWord(m_limits.measurement);
}

void ZeltoDLL::pulseout(int32_t pin, int32_t period) {
    sendvaluecmd(period, 4, pin, 1, Bytes{}, false);
}

int32_t ZeltoDLL::pulsein(int32_t pin, int32_t state) {
    sendcmd(7, pin, state, true);
    return replyWord(m_limits.measurement);
}

int32_t ZeltoDLL::rctime(int32_t pin, int32_t state) {
    sendcmd(0, 7, 0, true);
    try {
        // state is added unmasked, in 32-bit arithmetic.
        const int64_t sum = int64_t{0xA0} + 2 * (pin & 7) + state;
        if (sum > std::numeric_limits<int32_t>::max())
            raise(err::Overflow);
        m_comm->setOutput(byteOf(sum));
    } catch (...) {
        m_busy = false;
        throw;
    }
    return replyWord(m_limits.measurement);
}

int32_t ZeltoDLL::counter() {
    sendcmd(5, 5, 0, true);
    return replyWord(m_limits.measurement);
}

void ZeltoDLL::counter(int32_t) {
    raise(err::SetNotPermitted);
}

void ZeltoDLL::setcounter(int16_t prescale, bool countmode) {
    int code = 0;
    switch (prescale) {
    case 2:
        code = 1;
        break;
    case 4:
        code = 2;
        break;
    case 8:
        code = 3;
        break;
    default:
        break;
    }
    const int setup = 0x90 + 2 * code + (countmode ? 1 : 0);
    sendcmddata(0, 7, 0, byteOf(setup), false);
}

} // namespace zelto
