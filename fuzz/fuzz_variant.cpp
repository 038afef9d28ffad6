// Automation values of every type, with arbitrary numbers and strings, through every conversion
// and the byte builders. Besides crashes and sanitizer reports, a conversion that breaks one of
// the rules below stops the run.

#include "encoding.h"
#include "errors.h"
#include "fuzz_values.h"
#include "variant.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

using zelto::AutomationError;
using zelto::Bytes;
using zelto::Variant;
namespace err = zelto::err;
using T = Variant::Type;

namespace {

[[noreturn]] void broken(const char* rule, const Variant& v) {
    std::fprintf(stderr, "rule broken: %s (type %d)\n", rule, static_cast<int>(v.type()));
    std::abort();
}

void require(bool ok, const char* rule, const Variant& v) {
    if (!ok)
        broken(rule, v);
}

// The result of a conversion, or the number of the error it raised.
template <typename R> struct Outcome {
    std::optional<R> value;
    int error = 0;
};

template <typename F> auto attempt(const Variant& v, F f) -> Outcome<decltype(f())> {
    Outcome<decltype(f())> out;
    try {
        out.value = f();
    } catch (const AutomationError& e) {
        out.error = e.number();
        require(e.number() == err::Overflow || e.number() == err::TypeMismatch ||
                    e.number() == err::InvalidUseOfNull,
                "a conversion raised an unexpected error", v);
    }
    return out;
}

// The whole number a finite double rounds to, half to even, when it fits the range.
std::optional<int64_t> rounded(double d, int64_t lo, int64_t hi) {
    if (!std::isfinite(d))
        return std::nullopt;
    const double r = std::nearbyint(d);
    if (r < static_cast<double>(lo) || r > static_cast<double>(hi))
        return std::nullopt;
    return static_cast<int64_t>(r);
}

bool onlyNumberCharacters(const std::string& s) {
    return s.find_first_not_of(" \t\n\v\f\r+-.0123456789eE") == std::string::npos;
}

void checkConversions(const Variant& v) {
    const auto asLong = attempt(v, [&] { return v.toLong(); });
    const auto asInteger = attempt(v, [&] { return v.toInteger(); });
    const auto asBoolean = attempt(v, [&] { return v.toBoolean(); });
    const auto asDouble = attempt(v, [&] { return v.toDouble(); });
    constexpr int64_t kLongMin = std::numeric_limits<int32_t>::min();
    constexpr int64_t kLongMax = std::numeric_limits<int32_t>::max();

    switch (v.type()) {
    case T::Empty:
        require(asLong.value == 0 && asInteger.value == 0 && asBoolean.value == false &&
                    asDouble.value == 0.0,
                "Empty counts as 0 and False", v);
        return;
    case T::Null:
        require(asLong.error == err::InvalidUseOfNull && asInteger.error == err::InvalidUseOfNull &&
                    asBoolean.error == err::InvalidUseOfNull &&
                    asDouble.error == err::InvalidUseOfNull,
                "Null raises 94 everywhere", v);
        return;
    case T::Boolean:
    case T::Integer:
    case T::Long: {
        const int32_t n = v.integral();
        require(asLong.value == n && asDouble.value == n, "whole numbers convert exactly", v);
        require(asBoolean.value == (n != 0), "non-zero is True", v);
        const bool fits = n >= -32768 && n <= 32767;
        require(fits ? asInteger.value == n : asInteger.error == err::Overflow, "Integer range", v);
        return;
    }
    case T::Double:
    case T::String:
    case T::Foreign:
        break;
    }

    // &H and &O texts are bit patterns of the target's width: an Integer reads 16 of them.
    bool radix = false;
    if (v.type() == T::String) {
        const std::string& s = v.text();
        const size_t first = s.find_first_not_of(" \t\n\v\f\r");
        radix = first != std::string::npos && s[first] == '&';
        if (!radix && !onlyNumberCharacters(s))
            require(asDouble.error == err::TypeMismatch,
                    "a text with other characters is no number", v);
        std::string word;
        if (first != std::string::npos)
            word = s.substr(first, s.find_last_not_of(" \t\n\v\f\r") - first + 1);
        for (char& c : word)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (word == "true" || word == "false")
            require(asBoolean.value == (word == "true"), "True and False in any case", v);
        else if (!asDouble.value)
            require(asBoolean.error == asDouble.error, "a Boolean from a text needs a number", v);
    }
    if (!asDouble.value) {
        // A text that is not a number fails every whole-number conversion the same way.
        require(asLong.error == asDouble.error && asInteger.error == asDouble.error,
                "the same error for every conversion of a non-number", v);
        return;
    }
    const double d = *asDouble.value;
    if (v.type() == T::Double)
        require(d == v.real() || (std::isnan(d) && std::isnan(v.real())), "a Double is itself", v);
    if (std::isfinite(d))
        require(asBoolean.value == (d != 0.0), "a number is True when non-zero", v);
    else
        require(asBoolean.error == err::Overflow, "NaN and the infinities are no truth value", v);

    const auto expectLong = rounded(d, kLongMin, kLongMax);
    require(expectLong ? asLong.value == *expectLong : asLong.error == err::Overflow,
            "Long rounds half to even within its range, else 6", v);
    const auto expectInteger = rounded(d, -32768, 32767);
    if (!radix)
        require(expectInteger ? asInteger.value == *expectInteger
                              : asInteger.error == err::Overflow,
                "Integer rounds half to even within its range, else 6", v);
    if (expectLong && std::fabs(d - std::trunc(d)) == 0.5)
        require(*expectLong % 2 == 0, "halves go to the even neighbour", v);
}

void checkBuilders(const Variant& v) {
    int32_t n = 0;
    try {
        n = v.toLong();
    } catch (const AutomationError& e) {
        int dataError = 0;
        try {
            zelto::databyte(v);
        } catch (const AutomationError& f) {
            dataError = f.number();
        }
        require(dataError == e.number(), "a value that cannot be converted cannot be sent", v);
        return;
    }
    const int64_t first = int64_t{n} / 2 + 128;
    try {
        const Bytes b = zelto::databyte(v);
        require(b.size() == 1 && zelto::byteAt(b, 0) == first, "databyte is value \\ 2 + 128", v);
    } catch (const AutomationError& e) {
        require(e.number() == err::InvalidArgument && (first < 0 || first > 255),
                "databyte fails only out of range", v);
    }
    const int64_t high = int64_t{n} / 512 + 128;
    const int64_t low = ((int64_t{n} / 2) & 127) + 128;
    try {
        const Bytes w = zelto::dataword(v);
        require(w.size() == 2 && zelto::byteAt(w, 0) == high && zelto::byteAt(w, 1) == low,
                "dataword is value \\ 512 + 128, then bits 1 to 7", v);
    } catch (const AutomationError& e) {
        require(e.number() == err::InvalidArgument && (high < 0 || high > 255),
                "dataword fails only out of range", v);
    }
    require((zelto::cmdbyte(n, n >> 3, n >> 6) & 0x80) == 0, "a command byte has bit 7 clear", v);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    while (in.remaining_bytes() > 0) {
        const Variant v = zelto::fuzz::anyValue(in, true);
        checkConversions(v);
        checkBuilders(v);
    }
    return 0;
}
