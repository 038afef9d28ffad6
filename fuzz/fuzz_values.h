#pragma once

// Automation values of every type, as the fuzz targets draw them from their input.

#include "variant.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace zelto::fuzz {

// With corners, a Double is any bit pattern (infinities, NaNs, subnormals) and some texts are made
// only of what numbers are written with, to reach the text parser's corners.
inline Variant anyValue(FuzzedDataProvider& in, bool corners) {
    switch (in.ConsumeIntegralInRange(0, corners ? 7 : 6)) {
    case 0:
        return Variant();
    case 1:
        return Variant::null();
    case 2:
        return Variant(in.ConsumeBool());
    case 3:
        return Variant(in.ConsumeIntegral<int16_t>());
    case 4:
        return Variant(in.ConsumeIntegral<int32_t>());
    case 5: {
        if (!corners)
            return Variant(in.ConsumeFloatingPoint<double>());
        const uint64_t bits = in.ConsumeIntegral<uint64_t>();
        double d = 0;
        std::memcpy(&d, &bits, sizeof d);
        return Variant(d);
    }
    case 6:
        if (corners) {
            static const char kAlphabet[] = " \t+-.0123456789eE5xX";
            std::string s;
            const size_t n = in.ConsumeIntegralInRange<size_t>(0, 24);
            for (size_t i = 0; i < n; ++i)
                s += kAlphabet[in.ConsumeIntegralInRange<size_t>(0, sizeof kAlphabet - 2)];
            return Variant(s);
        }
        [[fallthrough]];
    default:
        return Variant(in.ConsumeRandomLengthString(corners ? 40 : 12));
    }
}

} // namespace zelto::fuzz
