#include "error_info.h"

#include "OstrelZeltoDLL_h.h"
#include "com_resources.h"

namespace zelto::com {

HRESULT setErrorInfo(const AutomationError& error, RaisedError* raised) {
    const auto hr = static_cast<HRESULT>(error.hresult());
    const std::wstring description = toWide(error.what());
    if (raised)
        *raised = RaisedError{hr, description};

    ComPtr<ICreateErrorInfo> create;
    if (SUCCEEDED(CreateErrorInfo(create.put()))) {
        create->SetGUID(IID__ZeltoDLL);
        create->SetSource(const_cast<LPOLESTR>(kErrorSource));
        create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
        ComPtr<IErrorInfo> info;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(info.put()))))
            SetErrorInfo(0, info.get());
    }
    return hr;
}

void fillExcepInfo(const RaisedError& raised, EXCEPINFO* info) {
    if (!info)
        return;
    SysFreeString(info->bstrSource);
    SysFreeString(info->bstrDescription);
    SysFreeString(info->bstrHelpFile);
    *info = EXCEPINFO{};
    info->scode = raised.hresult;
    info->bstrSource = SysAllocString(kErrorSource);
    info->bstrDescription =
        SysAllocStringLen(raised.description.data(), static_cast<UINT>(raised.description.size()));
}

} // namespace zelto::com
