#pragma once

// The in-process server's module: object and lock counts, the class factory, the type library.

#include <windows.h>

#include <oleauto.h>

#include <string>

namespace zelto::com {

void setModuleHandle(HMODULE module);
// The full path of this DLL (or, linked into a program, of the program).
std::wstring modulePath();

void moduleObjectCreated();
void moduleObjectDestroyed();
// True when no object, no lock and no class factory reference remains.
bool moduleCanUnload();

// The type information of _ZeltoDLL, read from the type library resource of the given file.
HRESULT loadTypeInfo(const std::wstring& path, ITypeInfo** out);

// DllGetClassObject: the class factory of ZeltoDLL.
HRESULT getClassObject(REFCLSID clsid, REFIID riid, void** out);

} // namespace zelto::com
