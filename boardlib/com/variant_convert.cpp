#include "variant_convert.h"

#include "errors.h"
#include "holders.h"

#include <new>

namespace zelto::com {
namespace {

// Values of types the core lacks, turned into the nearest core type by the runtime's own rules.
Variant viaDouble(const VARIANT& v) {
    VariantHolder converted;
    const HRESULT hr = VariantChangeType(converted.get(), const_cast<VARIANT*>(&v), 0, VT_R8);
    if (hr == DISP_E_OVERFLOW)
        raise(err::Overflow);
    if (FAILED(hr))
        raise(err::TypeMismatch);
    return Variant(V_R8(converted.get()));
}

} // namespace

Variant fromVariant(const VARIANT& v) {
    if (V_VT(&v) & VT_BYREF) {
        VariantHolder direct;
        if (FAILED(VariantCopyInd(direct.get(), const_cast<VARIANT*>(&v))))
            raise(err::TypeMismatch);
        return fromVariant(*direct.get());
    }
    switch (V_VT(&v)) {
    case VT_EMPTY:
        return {};
    case VT_NULL:
        return Variant::null();
    case VT_BOOL:
        return Variant(V_BOOL(&v) != VARIANT_FALSE);
    case VT_I2:
        return Variant(static_cast<int16_t>(V_I2(&v)));
    case VT_UI1:
        return Variant(static_cast<int16_t>(V_UI1(&v)));
    case VT_I1:
        return Variant(static_cast<int16_t>(V_I1(&v)));
    case VT_I4:
        return Variant(static_cast<int32_t>(V_I4(&v)));
    case VT_INT:
        return Variant(static_cast<int32_t>(V_INT(&v)));
    case VT_UI2:
        return Variant(static_cast<int32_t>(V_UI2(&v)));
    case VT_R8:
        return Variant(V_R8(&v));
    case VT_R4:
        return Variant(static_cast<double>(V_R4(&v)));
    case VT_BSTR: {
        const BSTR s = V_BSTR(&v);
        return Variant(toUtf8(s, s ? static_cast<int>(SysStringLen(s)) : 0));
    }
    case VT_UI4:
    case VT_UINT:
    case VT_I8:
    case VT_UI8:
    case VT_CY:
    case VT_DATE:
    case VT_DECIMAL:
        return viaDouble(v);
    default:
        // Objects, arrays, error values and the like have no number to give.
        raise(err::TypeMismatch);
    }
}

void toVariant(const Variant& value, VARIANT* out) {
    VariantInit(out);
    switch (value.type()) {
    case Variant::Type::Empty:
        return;
    case Variant::Type::Null:
        V_VT(out) = VT_NULL;
        return;
    case Variant::Type::Boolean:
        V_VT(out) = VT_BOOL;
        V_BOOL(out) = value.integral() ? VARIANT_TRUE : VARIANT_FALSE;
        return;
    case Variant::Type::Integer:
        V_VT(out) = VT_I2;
        V_I2(out) = static_cast<SHORT>(value.integral());
        return;
    case Variant::Type::Long:
        V_VT(out) = VT_I4;
        V_I4(out) = value.integral();
        return;
    case Variant::Type::Double:
        V_VT(out) = VT_R8;
        V_R8(out) = value.real();
        return;
    case Variant::Type::String:
        V_BSTR(out) = Bstr::fromUtf8(value.text()).detach();
        V_VT(out) = VT_BSTR;
        return;
    }
}

} // namespace zelto::com
