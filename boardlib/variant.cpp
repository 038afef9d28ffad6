#include "variant.h"

#include "errors.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace zelto {
namespace {

std::string trimmed(const std::string& s) {
    size_t begin = 0;
    size_t end = s.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(s[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(s[end - 1])))
        --end;
    return s.substr(begin, end - begin);
}

// A decimal number: optional sign, digits with an optional point, optional exponent. Anything
// else, including an empty string, is a type mismatch.
double parseDecimal(const std::string& t) {
    if (t.empty())
        raise(err::TypeMismatch);
    size_t i = 0;
    if (t[i] == '+' || t[i] == '-')
        ++i;
    size_t digits = 0;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) {
        ++i;
        ++digits;
    }
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        raise(err::TypeMismatch);
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-'))
            ++i;
        size_t expDigits = 0;
        while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) {
            ++i;
            ++expDigits;
        }
        if (expDigits == 0)
            raise(err::TypeMismatch);
    }
    if (i != t.size())
        raise(err::TypeMismatch);
    const double d = std::strtod(t.c_str(), nullptr);
    if (!std::isfinite(d))
        raise(err::Overflow);
    return d;
}

// A text as a number, by the automation rules: a decimal number, or &H and hexadecimal digits, or
// &O and octal digits. A hexadecimal or octal number is the bit pattern of a value of the width it
// is converted to (16 bits for an Integer, else 32): "&HFFFF" is -1 as an Integer and 65535 as a
// Long; more bits than the width hold are an overflow.
struct TextNumber {
    double value;
    bool radix;
    uint64_t bits;
};

TextNumber parseNumber(const std::string& s) {
    const std::string t = trimmed(s);
    if (t.size() < 2 || t[0] != '&')
        return {parseDecimal(t), false, 0};
    const char prefix = static_cast<char>(std::toupper(static_cast<unsigned char>(t[1])));
    const int base = prefix == 'H' ? 16 : prefix == 'O' ? 8 : 0;
    if (base == 0 || t.size() == 2)
        raise(err::TypeMismatch);
    uint64_t bits = 0;
    for (size_t i = 2; i < t.size(); ++i) {
        const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(t[i])));
        const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                          : c >= 'A' && c <= 'F'                      ? c - 'A' + 10
                                                                      : 99;
        if (digit >= base)
            raise(err::TypeMismatch);
        if (bits > (uint64_t{1} << 40))
            raise(err::Overflow);
        bits = bits * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    }
    return {static_cast<double>(bits), true, bits};
}

// The value of a text number for a whole-number type of the given width.
double textValue(const TextNumber& n, int width) {
    if (!n.radix)
        return n.value;
    const uint64_t mask = (uint64_t{1} << width) - 1;
    if (n.bits > mask)
        raise(err::Overflow);
    const uint64_t sign = uint64_t{1} << (width - 1);
    return n.bits & sign ? static_cast<double>(static_cast<int64_t>(n.bits) - (int64_t{1} << width))
                         : static_cast<double>(n.bits);
}

bool equalsIgnoringCase(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != b[i])
            return false;
    }
    return i == a.size() && b[i] == '\0';
}

int64_t roundedInRange(double d, int64_t lo, int64_t hi) {
    if (!std::isfinite(d))
        raise(err::Overflow);
    const double r = std::nearbyint(d); // the default rounding mode is half to even
    if (r < static_cast<double>(lo) || r > static_cast<double>(hi))
        raise(err::Overflow);
    return static_cast<int64_t>(r);
}

int64_t wholeInRange(const Variant& v, int64_t lo, int64_t hi) {
    switch (v.type()) {
    case Variant::Type::Empty:
        return 0;
    case Variant::Type::Null:
        raise(err::InvalidUseOfNull);
    case Variant::Type::Boolean:
    case Variant::Type::Integer:
    case Variant::Type::Long: {
        const int64_t n = v.integral();
        if (n < lo || n > hi)
            raise(err::Overflow);
        return n;
    }
    case Variant::Type::Double:
    case Variant::Type::Foreign:
        return roundedInRange(v.toDouble(), lo, hi);
    case Variant::Type::String:
        return roundedInRange(
            textValue(parseNumber(v.text()), hi > std::numeric_limits<int16_t>::max() ? 32 : 16),
            lo, hi);
    }
    raise(err::TypeMismatch);
}

} // namespace

bool Variant::Foreign::operator==(const Foreign& other) const {
    return value == other.value || value->equals(*other.value);
}

int32_t Variant::toLong() const {
    return static_cast<int32_t>(wholeInRange(*this, std::numeric_limits<int32_t>::min(),
                                             std::numeric_limits<int32_t>::max()));
}

int16_t Variant::toInteger() const {
    return static_cast<int16_t>(wholeInRange(*this, std::numeric_limits<int16_t>::min(),
                                             std::numeric_limits<int16_t>::max()));
}

double Variant::toDouble() const {
    switch (m_type) {
    case Type::Empty:
        return 0.0;
    case Type::Null:
        raise(err::InvalidUseOfNull);
    case Type::Boolean:
    case Type::Integer:
    case Type::Long:
        return integral();
    case Type::Double:
        return real();
    case Type::String:
        return textValue(parseNumber(text()), 32);
    case Type::Foreign:
        return foreign()->number();
    }
    raise(err::TypeMismatch);
}

bool Variant::toBoolean() const {
    switch (m_type) {
    case Type::Empty:
        return false;
    case Type::Null:
        raise(err::InvalidUseOfNull);
    case Type::Boolean:
    case Type::Integer:
    case Type::Long:
        return integral() != 0;
    case Type::Double:
    case Type::Foreign: {
        // NaN and the infinities are no number, and so no truth value either.
        const double d = toDouble();
        if (!std::isfinite(d))
            raise(err::Overflow);
        return d != 0.0;
    }
    case Type::String: {
        const std::string t = trimmed(text());
        if (equalsIgnoringCase(t, "true"))
            return true;
        if (equalsIgnoringCase(t, "false"))
            return false;
        return textValue(parseNumber(t), 32) != 0.0;
    }
    }
    raise(err::TypeMismatch);
}

} // namespace zelto
