#pragma once

// Owned COM resources, released on destruction: interface pointers, BSTRs and VARIANTs; and the
// UTF-16 <-> UTF-8 conversion of their text.

#include <windows.h>

#include <oleauto.h>

#include <string>
#include <utility>
#include <vector>

namespace zelto::com {

// An owned interface pointer.
template <typename T> class ComPtr {
  public:
    ComPtr() = default;
    // Takes over a reference the caller already owns.
    explicit ComPtr(T* p) : m_p(p) {}
    ComPtr(const ComPtr& o) : m_p(o.m_p) {
        if (m_p)
            m_p->AddRef();
    }
    ComPtr(ComPtr&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
    ComPtr& operator=(ComPtr o) noexcept {
        std::swap(m_p, o.m_p);
        return *this;
    }
    ~ComPtr() { reset(); }

    void reset() {
        if (m_p)
            std::exchange(m_p, nullptr)->Release();
    }
    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    // For out-parameters: releases what is held and hands out the slot.
    T** put() {
        reset();
        return &m_p;
    }
    T* detach() { return std::exchange(m_p, nullptr); }

  private:
    T* m_p = nullptr;
};

// An owned BSTR.
class Bstr {
  public:
    Bstr() = default;
    explicit Bstr(const wchar_t* text) : m_s(SysAllocString(text)) {}
    static Bstr fromUtf8(const std::string& text);
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    Bstr(Bstr&& o) noexcept : m_s(std::exchange(o.m_s, nullptr)) {}
    Bstr& operator=(Bstr&& o) noexcept {
        std::swap(m_s, o.m_s);
        return *this;
    }
    ~Bstr() { SysFreeString(m_s); }

    BSTR get() const { return m_s; }
    BSTR* put() {
        SysFreeString(std::exchange(m_s, nullptr));
        return &m_s;
    }
    BSTR detach() { return std::exchange(m_s, nullptr); }

  private:
    BSTR m_s = nullptr;
};

// An owned VARIANT, cleared on destruction.
class VariantHolder {
  public:
    VariantHolder() { VariantInit(&m_v); }
    VariantHolder(const VariantHolder&) = delete;
    VariantHolder& operator=(const VariantHolder&) = delete;
    VariantHolder(VariantHolder&& o) noexcept : VariantHolder() { std::swap(m_v, o.m_v); }
    VariantHolder& operator=(VariantHolder&& o) noexcept {
        std::swap(m_v, o.m_v);
        return *this;
    }
    ~VariantHolder() { VariantClear(&m_v); }

    VARIANT* get() { return &m_v; }
    const VARIANT* get() const { return &m_v; }
    VARIANT* put() {
        VariantClear(&m_v);
        return &m_v;
    }
    // Moves the value out to a caller-owned VARIANT.
    void detachTo(VARIANT* out) {
        *out = m_v;
        VariantInit(&m_v);
    }

  private:
    VARIANT m_v;
};

// Owned VARIANTs in one array (the arguments of a call), cleared on destruction.
class VariantArray {
  public:
    explicit VariantArray(size_t n) : m_values(n) {
        for (VARIANT& v : m_values)
            VariantInit(&v);
    }
    VariantArray(const VariantArray&) = delete;
    VariantArray& operator=(const VariantArray&) = delete;
    ~VariantArray() {
        for (VARIANT& v : m_values)
            VariantClear(&v);
    }

    VARIANT* at(size_t n) { return &m_values.at(n); }
    VARIANT* data() { return m_values.empty() ? nullptr : m_values.data(); }

  private:
    std::vector<VARIANT> m_values;
};

// UTF-16 <-> UTF-8.
std::string toUtf8(const wchar_t* text, int length);
inline std::string toUtf8(const std::wstring& text) {
    return toUtf8(text.data(), static_cast<int>(text.size()));
}
std::wstring toWide(const std::string& text);

} // namespace zelto::com
