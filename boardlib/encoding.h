#pragma once

#include "variant.h"

#include <cstdint>
#include <string>

namespace zelto {

// A byte string on its way to or from the board: one char per byte.
using Bytes = std::string;

// The byte builders of the command encoding. Command bytes have bit 7 clear, data bytes bit 7 set.

// (group And 7) * 16 + (select And 7) * 2 + (lowbit And 1); never fails.
uint8_t cmdbyte(int32_t group, int32_t select, int32_t lowbit);

// value \ 2 + 128, unmasked; error 5 when that falls outside 0..255.
Bytes databyte(int32_t value);
Bytes databyte(const Variant& value);

// value \ 512 + 128 (unmasked), then ((value \ 2) And 127) + 128; error 5 when the first byte
// falls outside 0..255.
Bytes dataword(int32_t value);
Bytes dataword(const Variant& value);

// One byte of the given value; error 5 when it falls outside 0..255.
Bytes byteOf(int64_t value);

// The byte at position i of a byte string as 0..255.
inline uint8_t byteAt(const Bytes& bytes, size_t i) {
    return static_cast<uint8_t>(bytes.at(i));
}

} // namespace zelto
