#include "zeltodll.h"

namespace zelto {

int32_t ZeltoDLL::a2d(int32_t pin) {
    sendcmd(3, pin, 0, true);
    return replyWord(m_limits.reply);
}

void ZeltoDLL::a2dconf(const bool& justify, const bool& clkx2, const int16_t& cselect) {
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
    sendcmddata(3, 0, 1, databyte(value), false);
}

void ZeltoDLL::pwm(int32_t pin, int32_t duty, int32_t fduration) {
    const Bytes data = databyte(duty);
    if (pin == -1) // the board's own PWM channel
        sendvaluecmd(fduration, 5, 2, duty, data, false);
    else
        sendvaluecmd(fduration, 6, pin, duty, data, false);
}

void ZeltoDLL::freq(int32_t pin, int32_t tone, int32_t duration) {
    // Not the operand layout: bit 0 rides with the pin, the second byte carries bits 8..14.
    Bytes tones = byteOf(0x80 + 2 * (pin & 7) + (tone & 1));
    tones += byteOf(0x80 + tone / 256);
    tones += byteOf(0x80 + ((tone / 2) & 127));
    sendvaluecmd(duration, 0, 7, 0, tones, false);
}

} // namespace zelto
