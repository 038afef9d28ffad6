#include "zelto_object.h"

#include "byref_arguments.h"
#include "member_table.h"
#include "module_counts.h"
#include "variant_convert.h"

#include <cmath>

namespace zelto::com {
namespace {

// Releases a FUNCDESC obtained from the type information.
class FuncDescHolder {
  public:
    FuncDescHolder(ITypeInfo* info, FUNCDESC* desc) : m_info(info), m_desc(desc) {}
    FuncDescHolder(const FuncDescHolder&) = delete;
    FuncDescHolder& operator=(const FuncDescHolder&) = delete;
    ~FuncDescHolder() { m_info->ReleaseFuncDesc(m_desc); }
    const FUNCDESC& operator*() const { return *m_desc; }

  private:
    ITypeInfo* m_info;
    FUNCDESC* m_desc;
};

// Every function that has a typed by-reference parameter.
std::vector<ZeltoObject::ByRefFunction> byRefFunctions(ITypeInfo* info) {
    std::vector<ZeltoObject::ByRefFunction> found;
    TYPEATTR* attr = nullptr;
    if (FAILED(info->GetTypeAttr(&attr)))
        return found;
    const WORD count = attr->cFuncs;
    info->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < count; ++i) {
        FUNCDESC* desc = nullptr;
        if (FAILED(info->GetFuncDesc(i, &desc)))
            continue;
        FuncDescHolder holder(info, desc);
        if (ByRefArguments::hasTypedByRef(*desc))
            found.push_back({desc->memid, desc->invkind, i});
    }
    return found;
}

// A Double that is NaN or infinite given for a typed parameter, read through a variable: the
// runtime's own coercion would turn it into some number, but it is none.
bool nonFiniteNumber(const VARIANT& arg) {
    const VARIANT* v = V_VT(&arg) == (VT_BYREF | VT_VARIANT) ? V_VARIANTREF(&arg) : &arg;
    if (!v)
        return false;
    switch (V_VT(v)) {
    case VT_R8:
        return !std::isfinite(V_R8(v));
    case VT_R4:
        return !std::isfinite(V_R4(v));
    case VT_BYREF | VT_R8:
        return V_R8REF(v) && !std::isfinite(*V_R8REF(v));
    case VT_BYREF | VT_R4:
        return V_R4REF(v) && !std::isfinite(*V_R4REF(v));
    default:
        return false;
    }
}

// The row that a call with these flags reaches: a property put, a method, or a property get (a
// script reads a property with the method and get flags together).
const Member* memberFor(DISPID id, WORD flags) {
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))
        return findMember(id, MemberKind::PropertyLet);
    const Member* method = (flags & DISPATCH_METHOD) ? findMember(id, MemberKind::Method) : nullptr;
    if (!method && (flags & DISPATCH_PROPERTYGET))
        return findMember(id, MemberKind::PropertyGet);
    return method;
}

} // namespace

ZeltoObject::ZeltoObject(std::unique_ptr<ZeltoDLL> board, ITypeInfo* typeInfo)
    : m_board(std::move(board)), m_typeInfo(typeInfo) {
    m_typeInfo->AddRef();
    m_byRefFunctions = byRefFunctions(typeInfo);
    moduleObjectCreated();
}

ZeltoObject::~ZeltoObject() {
    moduleObjectDestroyed();
}

HRESULT ZeltoObject::QueryInterface(REFIID riid, void** out) {
    if (!out)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID__ZeltoDLL)
        *out = static_cast<_ZeltoDLL*>(this);
    else if (riid == IID_ISupportErrorInfo)
        *out = static_cast<ISupportErrorInfo*>(this);
    else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG ZeltoObject::AddRef() {
    return ++m_refs;
}

ULONG ZeltoObject::Release() {
    const ULONG left = --m_refs;
    if (left == 0)
        delete this;
    return left;
}

HRESULT ZeltoObject::GetTypeInfoCount(UINT* count) {
    if (!count)
        return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT ZeltoObject::GetTypeInfo(UINT index, LCID, ITypeInfo** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (index != 0)
        return DISP_E_BADINDEX;
    m_typeInfo->AddRef();
    *out = m_typeInfo.get();
    return S_OK;
}

HRESULT ZeltoObject::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (riid != IID_NULL)
        return DISP_E_UNKNOWNINTERFACE;
    if (count == 0)
        return S_OK;
    if (!names || !ids)
        return E_POINTER;
    for (UINT n = 0; n < count; ++n) {
        if (!names[n])
            return E_INVALIDARG;
    }
    return DispGetIDsOfNames(m_typeInfo.get(), names, count, ids);
}

HRESULT ZeltoObject::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                            VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) {
    if (riid != IID_NULL)
        return DISP_E_UNKNOWNINTERFACE;
    if (!params || (params->cArgs && !params->rgvarg) ||
        (params->cNamedArgs && !params->rgdispidNamedArgs) || params->cNamedArgs > params->cArgs)
        return E_INVALIDARG;
    for (UINT k = 0; k < params->cArgs; ++k) {
        if ((V_VT(&params->rgvarg[k]) & VT_BYREF) && !V_BYREF(&params->rgvarg[k]))
            return E_INVALIDARG;
    }
    if (excepInfo)
        *excepInfo = EXCEPINFO{};
    // Every member takes exactly its parameters (none is optional; a put's new value is the named
    // argument): a surplus or a missing one fails before anything runs.
    if (const Member* member = memberFor(id, flags)) {
        if (params->cArgs != member->params.size())
            return DISP_E_BADPARAMCOUNT;
        // Named arguments come first in rgvarg; the only one a member takes is a put's new value.
        for (UINT k = 0; k < params->cArgs; ++k) {
            const size_t index =
                k < params->cNamedArgs ? member->params.size() - 1 : params->cArgs - 1 - k;
            if (member->params[index].type != ValueType::Variant &&
                nonFiniteNumber(params->rgvarg[k])) {
                if (argErr)
                    *argErr = k;
                return DISP_E_OVERFLOW;
            }
        }
    }

    ByRefArguments byRef;
    for (const ByRefFunction& f : m_byRefFunctions) {
        if (f.id != id || !(flags & f.kind))
            continue;
        FUNCDESC* desc = nullptr;
        if (SUCCEEDED(m_typeInfo->GetFuncDesc(f.index, &desc))) {
            const FuncDescHolder func(m_typeInfo.get(), desc);
            const HRESULT hr = byRef.prepare(*func, *params, argErr);
            if (FAILED(hr))
                return hr;
        }
        break;
    }

    // Keeps the object alive if a re-entered call releases the client's last reference.
    AddRef();
    m_raised.reset();
    HRESULT hr = m_typeInfo->Invoke(static_cast<_ZeltoDLL*>(this), id, flags, byRef.params(params),
                                    result, excepInfo, argErr);
    if (m_raised) {
        fillExcepInfo(*m_raised, excepInfo);
        m_raised.reset();
        hr = DISP_E_EXCEPTION;
    }
    Release();
    return hr;
}

HRESULT ZeltoObject::InterfaceSupportsErrorInfo(REFIID riid) {
    return riid == IID__ZeltoDLL || riid == IID_IDispatch ? S_OK : S_FALSE;
}

} // namespace zelto::com
