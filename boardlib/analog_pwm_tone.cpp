#include "zeltodll.h"

namespace zelto {

int32_t ZeltoDLL::a2d(int32_t pin) {
    const Turn mine = takeTurn();
    const Claim held = sendcmd(cmd::a2d(pin));
    return replyWord(m_limits.reply);
}

void ZeltoDLL::a2dconf(const bool& justify, const bool& clkx2, const int16_t& cselect) {
    const Turn mine = takeTurn();
    int16_t config = 0;
    if (justify)
        config = 128;
    if (clkx2)
        config |= 64;
    // cselect * 2 in 16-bit arithmetic; the flags merge with its upper bits by the Or.
    const int32_t doubled = int32_t{cselect} * 2;
    if (doubled > 32767)
        raise(err::Overflow);
    const int32_t value = doubled | config;
    if (value < 0 || value > 255)
        raise(err::Overflow);
    sendcmddata(cmd::a2dconf, databyte(value));
}

void ZeltoDLL::pwm(int32_t pin, int32_t duty, int32_t fduration) {
    const Turn mine = takeTurn();
    const Bytes data = databyte(duty);
    if (pin == -1) // the board's own PWM channel
        sendvaluecmd(fduration, cmd::pwmChannel(duty), data);
    else
        sendvaluecmd(fduration, cmd::pwm(pin, duty), data);
}

void ZeltoDLL::freq(int32_t pin, int32_t tone, int32_t duration) {
    const Turn mine = takeTurn();
    sendvaluecmd(duration, cmd::extended, cmd::toneKind(pin, tone));
}

} // namespace zelto
