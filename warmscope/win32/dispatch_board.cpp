#include "dispatch_board.h"

#include "wide_text.h"

#include <oleauto.h>

#include <string>

namespace warmscope {
namespace {

// Owns a VARIANT for the length of one call.
struct VariantHolder {
    VARIANT v;
    VariantHolder() { VariantInit(&v); }
    ~VariantHolder() { VariantClear(&v); }
    VariantHolder(const VariantHolder&) = delete;
    VariantHolder& operator=(const VariantHolder&) = delete;
};

// Owns the VARIANTs of a call's arguments.
class ArgumentList {
  public:
    explicit ArgumentList(size_t n) : m_values(n) {
        for (VARIANT& v : m_values)
            VariantInit(&v);
    }
    ~ArgumentList() {
        for (VARIANT& v : m_values)
            VariantClear(&v);
    }
    ArgumentList(const ArgumentList&) = delete;
    ArgumentList& operator=(const ArgumentList&) = delete;
    VARIANT& at(size_t n) { return m_values[n]; }
    VARIANT* data() { return m_values.empty() ? nullptr : m_values.data(); }

  private:
    std::vector<VARIANT> m_values;
};

void toVariant(const Variant& from, VARIANT& to) {
    switch (from.type()) {
    case Variant::Type::Empty:
        V_VT(&to) = VT_EMPTY;
        break;
    case Variant::Type::Null:
        V_VT(&to) = VT_NULL;
        break;
    case Variant::Type::Boolean:
        V_VT(&to) = VT_BOOL;
        V_BOOL(&to) = from.integral() ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    case Variant::Type::Integer:
        V_VT(&to) = VT_I2;
        V_I2(&to) = static_cast<SHORT>(from.integral());
        break;
    case Variant::Type::Long:
        V_VT(&to) = VT_I4;
        V_I4(&to) = from.integral();
        break;
    case Variant::Type::Double:
        V_VT(&to) = VT_R8;
        V_R8(&to) = from.real();
        break;
    case Variant::Type::String:
        V_VT(&to) = VT_BSTR;
        V_BSTR(&to) = SysAllocString(widen(from.text()).c_str());
        break;
    }
}

Variant fromVariant(const VARIANT& from) {
    switch (V_VT(&from)) {
    case VT_EMPTY:
        return {};
    case VT_NULL:
        return Variant::null();
    case VT_BOOL:
        return Variant(V_BOOL(&from) != VARIANT_FALSE);
    case VT_I2:
        return Variant(static_cast<int16_t>(V_I2(&from)));
    case VT_I4:
        return Variant(static_cast<int32_t>(V_I4(&from)));
    case VT_R8:
        return Variant(V_R8(&from));
    case VT_BSTR:
        return Variant(narrow(V_BSTR(&from), SysStringLen(V_BSTR(&from))));
    default: {
        // Other numeric types arrive as doubles; what cannot be a number is a type mismatch.
        VariantHolder d;
        if (FAILED(VariantChangeType(&d.v, const_cast<VARIANT*>(&from), 0, VT_R8)))
            zelto::raise(zelto::err::TypeMismatch);
        return Variant(V_R8(&d.v));
    }
    }
}

[[noreturn]] void raiseFailure(HRESULT hr, EXCEPINFO& info) {
    std::string description;
    if (hr == DISP_E_EXCEPTION) {
        if (info.pfnDeferredFillIn)
            info.pfnDeferredFillIn(&info);
        if (info.scode != 0)
            hr = info.scode;
        else if (info.wCode != 0)
            hr = static_cast<HRESULT>(0x800A0000u + info.wCode);
        else
            hr = E_FAIL;
        if (info.bstrDescription)
            description = narrow(info.bstrDescription, SysStringLen(info.bstrDescription));
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
        SysFreeString(info.bstrHelpFile);
    }
    const int32_t number = errorNumber(hr);
    if (description.empty())
        throw zelto::AutomationError(number);
    throw zelto::AutomationError(number, description);
}

} // namespace

int32_t errorNumber(HRESULT hr) {
    const auto status = static_cast<uint32_t>(hr);
    if ((status & 0xFFFF0000u) == 0x800A0000u)
        return static_cast<int32_t>(status & 0xFFFFu);
    switch (hr) {
    case DISP_E_MEMBERNOTFOUND:
    case DISP_E_UNKNOWNNAME:
        return zelto::err::NoSuchMember;
    case DISP_E_BADPARAMCOUNT:
        return zelto::err::WrongArgumentCount;
    case DISP_E_PARAMNOTOPTIONAL:
        return 449;
    case DISP_E_TYPEMISMATCH:
        return zelto::err::TypeMismatch;
    case DISP_E_OVERFLOW:
        return zelto::err::Overflow;
    default:
        return static_cast<int32_t>(status);
    }
}

std::unique_ptr<DispatchBoard> DispatchBoard::create(const wchar_t* progId, HRESULT& hr) {
    CLSID clsid;
    hr = CLSIDFromProgID(progId, &clsid);
    if (FAILED(hr))
        return nullptr;
    IDispatch* object = nullptr;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                          reinterpret_cast<void**>(&object));
    if (FAILED(hr))
        return nullptr;
    auto board = std::make_unique<DispatchBoard>(object);
    object->Release();
    return board;
}

DispatchBoard::DispatchBoard(IDispatch* object) : m_object(object) {
    m_object->AddRef();
}

DispatchBoard::~DispatchBoard() {
    m_object->Release();
}

Variant DispatchBoard::call(int32_t id, MemberKind kind, const std::vector<Variant>& args) {
    // Arguments go in reverse order.
    ArgumentList values(args.size());
    for (size_t n = 0; n < args.size(); ++n)
        toVariant(args[n], values.at(args.size() - 1 - n));

    DISPID namedPut = DISPID_PROPERTYPUT;
    DISPPARAMS params{values.data(), nullptr, static_cast<UINT>(args.size()), 0};
    WORD flags = DISPATCH_METHOD;
    switch (kind) {
    case MemberKind::Method:
        flags = DISPATCH_METHOD;
        break;
    case MemberKind::PropertyGet:
        flags = DISPATCH_PROPERTYGET;
        break;
    case MemberKind::PropertyLet:
        flags = DISPATCH_PROPERTYPUT;
        params.rgdispidNamedArgs = &namedPut;
        params.cNamedArgs = 1;
        break;
    }

    VariantHolder result;
    EXCEPINFO info{};
    UINT badArgument = 0;
    const HRESULT hr = m_object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                                        kind == MemberKind::PropertyLet ? nullptr : &result.v,
                                        &info, &badArgument);
    if (FAILED(hr))
        raiseFailure(hr, info);
    return fromVariant(result.v);
}

} // namespace warmscope
