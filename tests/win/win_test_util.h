#pragma once

// Helpers shared by the Windows tests.

#include "com_resources.h"
#include "variant_convert.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <oleauto.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace zelto::wintest {

// One apartment for the whole test program.
class ComApartment : public ::testing::Environment {
  public:
    void SetUp() override { ASSERT_HRESULT_SUCCEEDED(CoInitialize(nullptr)); }
    void TearDown() override { CoUninitialize(); }
};

// The automation server built beside the tests.
inline std::wstring dllPath() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path);
    return dir.substr(0, dir.find_last_of(L"\\/") + 1) + L"OstrelZeltoDLL.dll";
}

inline std::string narrow(const wchar_t* text) {
    return text ? com::toUtf8(text, static_cast<int>(wcslen(text))) : std::string();
}

// An environment variable set by the scripts that run the end-to-end programs, or "".
inline std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// A Unix path as this Windows process reaches it.
inline std::string onDriveZ(std::string path) {
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return "Z:" + path;
}

// The whole of the file whose Unix path the environment variable names.
inline std::string readFile(const char* variable) {
    std::ifstream in(onDriveZ(env(variable)), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The scripts preload the modem-line emulation only into 64-bit Wine processes.
inline bool linesEmulated() {
    return env("ZELTO_MODEM_LINES") == "1";
}

// A new object of the registered server, found by its programmatic identifier.
inline HRESULT createRegistered(IDispatch** out, CLSID* found = nullptr) {
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(L"OstrelZeltoDLL.ZeltoDLL", &clsid);
    if (found)
        *found = clsid;
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                              reinterpret_cast<void**>(out));
    return hr;
}

constexpr WORD M = DISPATCH_METHOD, G = DISPATCH_PROPERTYGET, P = DISPATCH_PROPERTYPUT;

// The outcome of IDispatch::Invoke; the holders own the texts that excep points at.
struct InvokeResult {
    HRESULT hr = E_FAIL;
    com::VariantHolder value;
    EXCEPINFO excep{};
    com::Bstr source, text, helpFile;
    UINT argErr = 0;
    // The automation error number a scripting client would see.
    long number() const {
        const HRESULT code = hr == DISP_E_EXCEPTION ? excep.scode : hr;
        const auto status = static_cast<uint32_t>(code);
        return (status & 0xFFFF0000u) == 0x800A0000u ? static_cast<long>(status & 0xFFFF) : -1;
    }
    std::string description() const { return narrow(text.get()); }
};

// Calls IDispatch::Invoke with positional arguments given first to last; a property put gets the
// named argument DISPID_PROPERTYPUT for its last argument.
inline InvokeResult invoke(IDispatch* target, DISPID id, WORD flags, std::vector<VARIANT> args) {
    InvokeResult r;
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    if (flags & DISPATCH_PROPERTYPUT) {
        params.rgdispidNamedArgs = &named;
        params.cNamedArgs = 1;
    }
    const bool wantsResult = !(flags & DISPATCH_PROPERTYPUT);
    r.hr = target->Invoke(id, IID_NULL, 0, flags, &params, wantsResult ? r.value.get() : nullptr,
                          &r.excep, &r.argErr);
    *r.source.put() = r.excep.bstrSource;
    *r.text.put() = r.excep.bstrDescription;
    *r.helpFile.put() = r.excep.bstrHelpFile;
    return r;
}

inline bool isTrue(const InvokeResult& r) {
    return r.hr == S_OK && V_VT(r.value.get()) == VT_BOOL && V_BOOL(r.value.get()) != VARIANT_FALSE;
}

// A function exported by a loaded module, as the given pointer type.
template <typename Fn> Fn exported(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// An automation value of the given type, filled in by set.
template <typename Set> VARIANT typed(VARTYPE type, Set set) {
    VARIANT x;
    VariantInit(&x);
    V_VT(&x) = type;
    set(x);
    return x;
}
// A script's variable: a reference to a value.
inline VARIANT vRef(VARIANT* inner) {
    return typed(VT_BYREF | VT_VARIANT, [&](VARIANT& x) { V_VARIANTREF(&x) = inner; });
}
// An automation value made from a core value; a text needs VariantClear afterwards.
inline VARIANT v(const Variant& value) {
    VARIANT x;
    VariantInit(&x);
    com::toVariant(value, &x);
    return x;
}

} // namespace zelto::wintest
