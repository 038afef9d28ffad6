#pragma once

// Automation values between the C type and the board object's Variant.

#include "errors.h"
#include "ostrelzelto.h"
#include "variant.h"

#include <cstdint>
#include <string>

namespace zelto::capi {

inline Variant toVariant(const oz_value& v) {
    switch (v.type) {
    case OZ_EMPTY:
        return {};
    case OZ_NULL:
        return Variant::null();
    case OZ_BOOLEAN:
        return Variant(v.integer != 0);
    case OZ_INTEGER:
        // A value beyond 16 bits does not fit the type it claims.
        if (v.integer < INT16_MIN || v.integer > INT16_MAX)
            raise(err::Overflow);
        return Variant(static_cast<int16_t>(v.integer));
    case OZ_LONG:
        return Variant(v.integer);
    case OZ_DOUBLE:
        return Variant(v.real);
    case OZ_STRING:
        return Variant(std::string(v.text ? v.text : ""));
    default:
        raise(err::TypeMismatch);
    }
}

// The text of a string stays in the Variant, which has to outlive the value.
inline oz_value toValue(const Variant& v) {
    oz_value out{static_cast<int32_t>(v.type()), 0, 0.0, nullptr};
    switch (v.type()) {
    case Variant::Type::Boolean:
        out.integer = v.integral() != 0;
        break;
    case Variant::Type::Integer:
    case Variant::Type::Long:
        out.integer = v.integral();
        break;
    case Variant::Type::Double:
        out.real = v.real();
        break;
    case Variant::Type::String:
        out.text = v.text().c_str();
        break;
    case Variant::Type::Empty:
    case Variant::Type::Null:
        break;
    case Variant::Type::Foreign: // only the Windows side makes these
        raise(err::TypeMismatch);
    }
    return out;
}

} // namespace zelto::capi
