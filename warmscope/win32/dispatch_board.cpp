#include "dispatch_board.h"

#include "com_resources.h"
#include "variant_convert.h"

#include <oleauto.h>

#include <string>

namespace warmscope {
namespace {

using zelto::com::fromVariant;
using zelto::com::toUtf8;
using zelto::com::toVariant;
using zelto::com::VariantArray;
using zelto::com::VariantHolder;

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
            description =
                toUtf8(info.bstrDescription, static_cast<int>(SysStringLen(info.bstrDescription)));
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
        return zelto::err::ArgumentNotOptional;
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
    VariantArray values(args.size());
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
                                        kind == MemberKind::PropertyLet ? nullptr : result.get(),
                                        &info, &badArgument);
    if (FAILED(hr))
        raiseFailure(hr, info);
    return fromVariant(*result.get());
}

} // namespace warmscope
