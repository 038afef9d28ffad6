#include "server.h"

#include "OstrelZeltoDLL_h.h"
#include "com_resources.h"
#include "error_info.h"
#include "module_counts.h"
#include "win32_message_pump.h"
#include "zelto_object.h"

namespace zelto::com {
namespace {

HMODULE g_module = nullptr;

// The host's message processing during the wait for the link; it has no state of its own.
Win32MessagePump g_pump;

class ClassFactory final : public IClassFactory {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // The factory is a static object; a reference to it keeps the module loaded like a lock.
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(moduleLock()); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(moduleUnlock()); }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        ComPtr<ITypeInfo> info;
        HRESULT hr = loadTypeInfo(modulePath(), info.put());
        if (FAILED(hr))
            return hr;
        ZeltoObject* object = nullptr;
        hr = guarded(nullptr, [&] {
            object = new ZeltoObject(
                std::make_unique<ZeltoDLL>(makeSystemSerialComponent(), &g_pump), info.get());
        });
        if (FAILED(hr))
            return hr;
        hr = object->QueryInterface(riid, out);
        object->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            moduleLock();
        else
            moduleUnlock();
        return S_OK;
    }
};

ClassFactory g_factory;

} // namespace

void setModuleHandle(HMODULE module) {
    g_module = module;
}

std::wstring modulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(g_module, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

HRESULT loadTypeInfo(const std::wstring& path, ITypeInfo** out) {
    ComPtr<ITypeLib> library;
    const HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put());
    if (FAILED(hr))
        return hr;
    return library->GetTypeInfoOfGuid(IID__ZeltoDLL, out);
}

HRESULT getClassObject(REFCLSID clsid, REFIID riid, void** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (clsid != CLSID_ZeltoDLL)
        return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, out);
}

} // namespace zelto::com
