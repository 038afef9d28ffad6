#include "variant_convert.h"

#include "com_resources.h"
#include "errors.h"

#include <memory>

namespace zelto::com {
namespace {

// An automation value of a type the core lacks, kept as a copy of its own; its number is the
// runtime's conversion of it.
class AutomationValue final : public ForeignValue {
  public:
    explicit AutomationValue(const VARIANT& v) {
        if (FAILED(VariantCopy(m_value.get(), const_cast<VARIANT*>(&v))))
            raise(err::TypeMismatch);
    }
    double number() const override {
        VariantHolder converted;
        const HRESULT hr =
            VariantChangeType(converted.get(), const_cast<VARIANT*>(m_value.get()), 0, VT_R8);
        if (hr == DISP_E_OVERFLOW)
            raise(err::Overflow);
        if (FAILED(hr))
            raise(err::TypeMismatch);
        return V_R8(converted.get());
    }
    // The same type and value; arrays and objects only as the same one.
    bool equals(const ForeignValue& other) const override {
        const auto* o = dynamic_cast<const AutomationValue*>(&other);
        if (!o || V_VT(o->get()) != V_VT(get()))
            return false;
        if (V_VT(get()) & VT_ARRAY)
            return V_ARRAY(o->get()) == V_ARRAY(get());
        if (V_VT(get()) == VT_DISPATCH || V_VT(get()) == VT_UNKNOWN)
            return V_UNKNOWN(o->get()) == V_UNKNOWN(get());
        return VarCmp(const_cast<VARIANT*>(get()), const_cast<VARIANT*>(o->get()),
                      LOCALE_USER_DEFAULT, 0) == static_cast<HRESULT>(VARCMP_EQ);
    }
    const VARIANT* get() const { return m_value.get(); }

  private:
    VariantHolder m_value;
};

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
    case VT_I4:
        return Variant(static_cast<int32_t>(V_I4(&v)));
    case VT_R8:
        return Variant(V_R8(&v));
    case VT_BSTR: {
        const BSTR s = V_BSTR(&v);
        return Variant(toUtf8(s, s ? static_cast<int>(SysStringLen(s)) : 0));
    }
    default:
        return Variant(std::make_shared<const AutomationValue>(v));
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
    case Variant::Type::Foreign: {
        // Only this layer makes foreign values.
        const auto* held = dynamic_cast<const AutomationValue*>(value.foreign().get());
        if (!held || FAILED(VariantCopy(out, const_cast<VARIANT*>(held->get()))))
            raise(err::TypeMismatch);
        return;
    }
    }
}

} // namespace zelto::com
