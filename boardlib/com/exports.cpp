// The four entry points of the in-process server, and nothing more.

#include "module_counts.h"
#include "registration.h"
#include "server.h"

#include <olectl.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    // Thread notifications stay on: the statically linked C++ runtime needs them.
    if (reason == DLL_PROCESS_ATTACH)
        zelto::com::setModuleHandle(instance);
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
    return zelto::com::getClassObject(clsid, riid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return zelto::com::moduleCanUnload() ? S_OK : S_FALSE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
    return zelto::com::registerServer(zelto::com::modulePath());
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
    return zelto::com::unregisterServer();
}
