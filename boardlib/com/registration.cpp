#include "registration.h"

#include "OstrelZeltoDLL_h.h"
#include "holders.h"

#include <oleauto.h>
#include <olectl.h>

namespace zelto::com {
namespace {

std::wstring guidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

#ifdef _WIN64
constexpr SYSKIND kSysKind = SYS_WIN64;
constexpr const wchar_t* kSysKindName = L"win64";
#else
constexpr SYSKIND kSysKind = SYS_WIN32;
constexpr const wchar_t* kSysKindName = L"win32";
#endif

// Writes a string value (the key's default value when name is null), creating the key.
HRESULT setValue(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    HKEY handle = nullptr;
    LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_SET_VALUE, nullptr, &handle, nullptr);
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);
    rc = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc);
}

HRESULT deleteTree(const std::wstring& key) {
    const LONG rc = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    if (rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND) {
        // RegDeleteTree empties the key; the key itself goes with RegDeleteKey.
        const LONG last = RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
        if (last == ERROR_SUCCESS || last == ERROR_FILE_NOT_FOUND)
            return S_OK;
        return HRESULT_FROM_WIN32(last);
    }
    return HRESULT_FROM_WIN32(rc);
}

std::wstring clsidKey() {
    return L"CLSID\\" + guidText(CLSID_ZeltoDLL);
}

} // namespace

HRESULT registerServer(const std::wstring& modulePath) {
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadTypeLibEx(modulePath.c_str(), REGKIND_NONE, library.put());
    if (FAILED(hr))
        return hr;
    hr = RegisterTypeLib(library.get(), const_cast<wchar_t*>(modulePath.c_str()), nullptr);
    if (FAILED(hr))
        return hr;

    const std::wstring clsid = clsidKey();
    const struct {
        std::wstring key;
        const wchar_t* name;
        std::wstring value;
    } values[] = {
        {clsid, nullptr, L"ZeltoDLL"},
        {clsid + L"\\InprocServer32", nullptr, modulePath},
        {clsid + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {clsid + L"\\ProgID", nullptr, kProgId},
        {clsid + L"\\TypeLib", nullptr, guidText(LIBID_OstrelZeltoDLL)},
        {clsid + L"\\Version", nullptr, L"5.0"},
        {kProgId, nullptr, L"ZeltoDLL"},
        {std::wstring(kProgId) + L"\\CLSID", nullptr, guidText(CLSID_ZeltoDLL)},
    };
    for (const auto& v : values) {
        hr = setValue(v.key, v.name, v.value);
        if (FAILED(hr)) {
            unregisterServer();
            return SELFREG_E_CLASS;
        }
    }
    return S_OK;
}

HRESULT unregisterServer() {
    HRESULT result = S_OK;
    // UnRegisterTypeLib fails for a library that is not registered; that is no error here.
    HKEY version = nullptr;
    const std::wstring versionKey =
        L"TypeLib\\" + guidText(LIBID_OstrelZeltoDLL) + L"\\5.0\\0\\" + kSysKindName;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, versionKey.c_str(), 0, KEY_READ, &version) ==
        ERROR_SUCCESS) {
        RegCloseKey(version);
        if (FAILED(UnRegisterTypeLib(LIBID_OstrelZeltoDLL, 5, 0, 0, kSysKind)))
            result = SELFREG_E_TYPELIB;
    }
    if (FAILED(deleteTree(clsidKey())))
        result = SELFREG_E_CLASS;
    if (FAILED(deleteTree(kProgId)))
        result = SELFREG_E_CLASS;
    return result;
}

} // namespace zelto::com
