#include "byref_arguments.h"

namespace zelto::com {
namespace {

// The declared type of a typed by-reference parameter ([in, out] short*, VARIANT_BOOL*, ...), or
// VT_EMPTY for any other parameter.
VARTYPE byRefTarget(const ELEMDESC& param) {
    const TYPEDESC& t = param.tdesc;
    if (t.vt != VT_PTR || !t.lptdesc)
        return VT_EMPTY;
    if (param.paramdesc.wParamFlags & PARAMFLAG_FRETVAL)
        return VT_EMPTY;
    switch (t.lptdesc->vt) {
    case VT_BOOL:
    case VT_I2:
    case VT_I4:
    case VT_R8:
    case VT_BSTR:
        return t.lptdesc->vt;
    default:
        return VT_EMPTY;
    }
}

// Which parameter an entry of rgvarg fills: named arguments first, then the positional ones in
// reverse order.
int paramIndex(const DISPPARAMS& params, UINT k) {
    if (k < params.cNamedArgs)
        return params.rgdispidNamedArgs[k];
    return static_cast<int>(params.cArgs - 1 - k);
}

void pointTo(VARIANT& arg, VARIANT& temp) {
    const VARTYPE vt = V_VT(&temp);
    VariantInit(&arg);
    V_VT(&arg) = VT_BYREF | vt;
    switch (vt) {
    case VT_BOOL:
        V_BOOLREF(&arg) = &V_BOOL(&temp);
        break;
    case VT_I2:
        V_I2REF(&arg) = &V_I2(&temp);
        break;
    case VT_I4:
        V_I4REF(&arg) = &V_I4(&temp);
        break;
    case VT_R8:
        V_R8REF(&arg) = &V_R8(&temp);
        break;
    case VT_BSTR:
        V_BSTRREF(&arg) = &V_BSTR(&temp);
        break;
    default:
        break;
    }
}

} // namespace

bool ByRefArguments::hasTypedByRef(const FUNCDESC& func) {
    for (SHORT i = 0; i < func.cParams; ++i)
        if (byRefTarget(func.lprgelemdescParam[i]) != VT_EMPTY)
            return true;
    return false;
}

HRESULT ByRefArguments::prepare(const FUNCDESC& func, const DISPPARAMS& params, UINT* argErr) {
    for (UINT k = 0; k < params.cArgs; ++k) {
        const int index = paramIndex(params, k);
        if (index < 0 || index >= func.cParams)
            continue; // e.g. DISPID_PROPERTYPUT
        const VARTYPE target = byRefTarget(func.lprgelemdescParam[index]);
        const VARIANT& given = params.rgvarg[k];
        if (target == VT_EMPTY || V_VT(&given) == (VT_BYREF | target))
            continue;

        if (!m_changed) {
            m_args.assign(params.rgvarg, params.rgvarg + params.cArgs);
            m_params = params;
            m_params.rgvarg = m_args.data();
            m_changed = true;
        }
        // Read through a by-reference argument without touching what it points at.
        const VARIANT* source = &given;
        if (V_VT(&given) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(&given))
            source = V_VARIANTREF(&given);
        auto temp = std::make_unique<VariantHolder>();
        const HRESULT hr = VariantChangeType(temp->get(), const_cast<VARIANT*>(source), 0, target);
        if (FAILED(hr)) {
            if (argErr)
                *argErr = k;
            return hr;
        }
        pointTo(m_args[k], *temp->get());
        m_temps.push_back(std::move(temp));
    }
    return S_OK;
}

} // namespace zelto::com
