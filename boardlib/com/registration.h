#pragma once

#include <windows.h>

#include <string>

namespace zelto::com {

inline constexpr const wchar_t* kProgId = L"OstrelZeltoDLL.ZeltoDLL";

// DllRegisterServer: the type library (with its interface), the class with its server path,
// threading model, programmatic identifier and type library, and the programmatic identifier's own
// key.
HRESULT registerServer(const std::wstring& modulePath);
// DllUnregisterServer: removes exactly what registerServer writes. Missing keys are not an error.
HRESULT unregisterServer();

} // namespace zelto::com
