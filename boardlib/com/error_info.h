#pragma once

// Automation errors -> HRESULT plus the thread's error info, the way automation clients expect
// them.

#include "errors.h"

#include <windows.h>

#include <oleauto.h>

#include <optional>
#include <string>

namespace zelto::com {

// What the last failing member raised, kept for the EXCEPINFO of IDispatch::Invoke.
struct RaisedError {
    HRESULT hresult;
    std::wstring description;
};

inline constexpr const wchar_t* kErrorSource = L"OstrelZeltoDLL.ZeltoDLL";

// Sets the thread's error info (source, description, interface) and returns the error's status.
HRESULT setErrorInfo(const AutomationError& error, RaisedError* raised = nullptr);

// Fills an EXCEPINFO so that clients read the error number from scode.
void fillExcepInfo(const RaisedError& raised, EXCEPINFO* info);

// Runs a member body and turns whatever it throws into a status; no exception leaves this.
template <typename Body> HRESULT guarded(RaisedError* raised, Body&& body) noexcept {
    try {
        body();
        return S_OK;
    } catch (const AutomationError& e) {
        return setErrorInfo(e, raised);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

} // namespace zelto::com
