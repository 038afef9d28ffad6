#include "com_resources.h"

#include <new>

namespace zelto::com {

Bstr Bstr::fromUtf8(const std::string& text) {
    const std::wstring wide = toWide(text);
    Bstr b;
    *b.put() = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    if (!b.get())
        throw std::bad_alloc();
    return b;
}

std::string toUtf8(const wchar_t* text, int length) {
    if (length <= 0)
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring toWide(const std::string& text) {
    if (text.empty())
        return {};
    const int length = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), length, out.data(), n);
    return out;
}

} // namespace zelto::com
