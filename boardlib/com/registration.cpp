#include "registration.h"

#include "OstrelZeltoDLL_h.h"
#include "com_resources.h"

#include <oleauto.h>
#include <olectl.h>

namespace zelto::com {
namespace {

std::wstring guidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

// This width's type library kind and the registry view and kind of the other width.
#ifdef _WIN64
constexpr SYSKIND kSysKind = SYS_WIN64;
constexpr const wchar_t* kSysKindName = L"win64";
constexpr REGSAM kOtherView = KEY_WOW64_32KEY;
constexpr const wchar_t* kOtherSysKindName = L"win32";
#else
constexpr SYSKIND kSysKind = SYS_WIN32;
constexpr const wchar_t* kSysKindName = L"win32";
constexpr REGSAM kOtherView = KEY_WOW64_64KEY;
constexpr const wchar_t* kOtherSysKindName = L"win64";
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

constexpr REGSAM kBothViews[] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};

// Deletes a key with everything below it in one registry view (0: this process's view).
HRESULT deleteTree(const std::wstring& key, REGSAM view = 0) {
    HKEY handle = nullptr;
    LONG rc = RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_ALL_ACCESS | view, &handle);
    if (rc == ERROR_FILE_NOT_FOUND)
        return S_OK;
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);
    rc = RegDeleteTreeW(handle, nullptr);
    RegCloseKey(handle);
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
        return HRESULT_FROM_WIN32(rc);
    rc = RegDeleteKeyExW(HKEY_CLASSES_ROOT, key.c_str(), view, 0);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(rc);
}

bool keyExists(const std::wstring& key, REGSAM view = 0) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ | view, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

// A key's default value, or empty.
std::wstring defaultValue(const std::wstring& key) {
    wchar_t text[MAX_PATH + 1] = {};
    DWORD size = sizeof text - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, text,
                     &size) != ERROR_SUCCESS)
        return {};
    return text;
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
    const std::wstring library = L"TypeLib\\" + guidText(LIBID_OstrelZeltoDLL) + L"\\5.0";
    const std::wstring ownTypeLib = library + L"\\0\\" + kSysKindName;
    const std::wstring otherTypeLib = library + L"\\0\\" + kOtherSysKindName;
    if (FAILED(deleteTree(clsidKey())))
        result = SELFREG_E_CLASS;

    // The programmatic identifier, the interface and the type library's own key are one for both
    // widths: while the other width still registers the class, only this width's entries go, and
    // the library's help folder moves to the file that stays.
    const std::wstring otherFile = defaultValue(otherTypeLib);
    if (keyExists(clsidKey(), kOtherView) && !otherFile.empty()) {
        if (FAILED(deleteTree(ownTypeLib)))
            result = SELFREG_E_TYPELIB;
        const std::wstring folder = otherFile.substr(0, otherFile.find_last_of(L"\\/"));
        if (FAILED(setValue(library + L"\\HELPDIR", nullptr, folder)))
            result = SELFREG_E_TYPELIB;
        return result;
    }

    // UnRegisterTypeLib fails for a library that is not registered; that is no error here.
    if (keyExists(ownTypeLib) && FAILED(UnRegisterTypeLib(LIBID_OstrelZeltoDLL, 5, 0, 0, kSysKind)))
        result = SELFREG_E_TYPELIB;
    // What either width left behind, in whichever view the system keeps it.
    for (const REGSAM view : kBothViews) {
        if (FAILED(deleteTree(L"Interface\\" + guidText(IID__ZeltoDLL), view)) ||
            FAILED(deleteTree(L"TypeLib\\" + guidText(LIBID_OstrelZeltoDLL), view)))
            result = SELFREG_E_TYPELIB;
        if (FAILED(deleteTree(kProgId, view)))
            result = SELFREG_E_CLASS;
    }
    return result;
}

} // namespace zelto::com
