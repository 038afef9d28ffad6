#pragma once

// The in-process server: the module's path, the class factory, the type library.

#include <windows.h>

#include <oleauto.h>

#include <string>

namespace zelto::com {

void setModuleHandle(HMODULE module);
// The full path of this DLL (or, linked into a program, of the program).
std::wstring modulePath();

// The type information of _ZeltoDLL, read from the type library resource of the given file.
HRESULT loadTypeInfo(const std::wstring& path, ITypeInfo** out);

// DllGetClassObject: the class factory of ZeltoDLL.
HRESULT getClassObject(REFCLSID clsid, REFIID riid, void** out);

} // namespace zelto::com
