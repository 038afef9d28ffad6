#pragma once

// The board's command table: every command byte by name, as group, select and low bit (the
// encoding of cmdbyte). Pins and 8-bit values ride in these fields unmasked; cmdbyte masks them.

#include "encoding.h"
#include "errors.h"

#include <cstdint>
#include <limits>

namespace zelto::cmd {

struct Command {
    int32_t group;
    int32_t select;
    int32_t lowbit;
};

// Link and port registers
inline constexpr Command attention{0, 0, 0}; // first byte of the opening handshake
inline constexpr Command ok{0, 0, 1};        // the board answers 51
constexpr Command setTris(int32_t value) {
    return {0, 1, value};
}
constexpr Command setPins(int32_t value) {
    return {0, 2, value};
}
inline constexpr Command readTris{5, 3, 0};
inline constexpr Command readPins{5, 3, 1};
inline constexpr Command resetall{5, 6, 0};

// The operand load that puts a 16-bit value on the board ahead of its command: bit 0 in the
// select, bit 8 in the low bit; the data word carries the rest.
constexpr Command operandLoad(int32_t value) {
    return {0, 4 + (value & 1), (value / 256) % 2};
}

// Pins and LED
constexpr Command led(bool on) {
    return {0, 6, on ? 1 : 0};
}
constexpr Command low(int32_t pin) {
    return {1, pin, 0};
}
constexpr Command high(int32_t pin) {
    return {1, pin, 1};
}
constexpr Command toggle(int32_t pin) {
    return {2, pin, 0};
}
constexpr Command inp(int32_t pin) {
    return {2, pin, 1};
}

// Analog
constexpr Command a2d(int32_t pin) {
    return {3, pin, 0};
}
inline constexpr Command a2dconf{3, 0, 1};

// Pulse, timing and counter
constexpr Command count(int32_t pin) {
    return {4, pin, 0};
}
constexpr Command pulseout(int32_t pin) {
    return {4, pin, 1};
}
constexpr Command pulsein(int32_t pin, int32_t state) {
    return {7, pin, state};
}
inline constexpr Command counter{5, 5, 0};

// EEPROM and repeat
constexpr Command eepromWrite(int32_t value) {
    return {5, 0, value};
}
inline constexpr Command eepromRead{5, 1, 0};
inline constexpr Command repeat{5, 5, 1};

// PWM on a pin, or on the board's own channel; bit 0 of the duty rides in the low bit.
constexpr Command pwm(int32_t pin, int32_t duty) {
    return {6, pin, duty};
}
constexpr Command pwmChannel(int32_t duty) {
    return {5, 2, duty};
}

// The extended command 0x0E: its first data byte tells its three kinds apart.
inline constexpr Command extended{0, 7, 0};

// Tone (0x80..0x8F): bit 0 of the tone rides with the pin; bits 8..14 and 1..7 follow.
inline Bytes toneKind(int32_t pin, int32_t tone) {
    return byteOf(0x80 + 2 * (pin & 7) + (tone & 1)) + byteOf(0x80 + tone / 256) +
           byteOf(0x80 + ((tone / 2) & 127));
}

// Counter setup (0x90..0x97): the prescale code, then the count mode.
inline Bytes counterSetupKind(int16_t prescale, bool countmode) {
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
    return byteOf(0x90 + 2 * code + (countmode ? 1 : 0));
}

// RC time (0xA0..0xAF): state is added unmasked, in 32-bit arithmetic.
inline Bytes rcTimeKind(int32_t pin, int32_t state) {
    const int64_t sum = int64_t{0xA0} + 2 * (pin & 7) + state;
    if (sum > std::numeric_limits<int32_t>::max())
        raise(err::Overflow);
    return byteOf(sum);
}

} // namespace zelto::cmd
