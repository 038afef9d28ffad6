#pragma once

#include <windows.h>

#include <string>

namespace warmscope {

// UTF-8 to the system's UTF-16 and back.
inline std::wstring widen(const std::string& s) {
    if (s.empty())
        return {};
    const int len = static_cast<int>(s.size());
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), len, nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), len, w.data(), n);
    return w;
}

inline std::string narrow(const wchar_t* w, size_t length) {
    if (!w || length == 0)
        return {};
    const int len = static_cast<int>(length);
    const int n = WideCharToMultiByte(CP_UTF8, 0, w, len, nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w, len, s.data(), n, nullptr, nullptr);
    return s;
}

inline std::string narrow(const std::wstring& w) {
    return narrow(w.data(), w.size());
}

} // namespace warmscope
