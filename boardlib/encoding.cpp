#include "encoding.h"

#include "errors.h"

namespace zelto {
namespace {

char checkedByte(int64_t value) {
    if (value < 0 || value > 255)
        raise(err::InvalidArgument);
    return static_cast<char>(static_cast<uint8_t>(value));
}

} // namespace

Bytes byteOf(int64_t value) {
    return Bytes(1, checkedByte(value));
}

uint8_t cmdbyte(int32_t group, int32_t select, int32_t lowbit) {
    return static_cast<uint8_t>((group & 7) * 16 + (select & 7) * 2 + (lowbit & 1));
}

Bytes databyte(int32_t value) {
    return Bytes(1, checkedByte(int64_t{value} / 2 + 128));
}

Bytes databyte(const Variant& value) {
    return databyte(value.toLong());
}

Bytes dataword(int32_t value) {
    Bytes word;
    word += checkedByte(int64_t{value} / 512 + 128);
    word += checkedByte(((int64_t{value} / 2) & 127) + 128);
    return word;
}

Bytes dataword(const Variant& value) {
    return dataword(value.toLong());
}

} // namespace zelto
