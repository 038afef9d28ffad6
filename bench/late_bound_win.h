#pragma once

// The registered server's object, created by programmatic identifier and called by dispatch
// identifier through IDispatch::Invoke, as a script host calls it: what the Windows benchmarks
// time.

#include <windows.h>

#include <oleauto.h>

#include <cstdio>
#include <cstdlib>

namespace zelto::bench {

[[noreturn]] inline void comFailed(const char* what, HRESULT hr) {
    std::fprintf(stderr, "%s failed (0x%08lX)\n", what, static_cast<unsigned long>(hr));
    std::exit(1);
}

inline VARIANT variantOf(LONG n) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = n;
    return v;
}

inline VARIANT variantOf(bool b) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BOOL;
    V_BOOL(&v) = b ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

class LateBound {
  public:
    LateBound() {
        CLSID clsid{};
        HRESULT hr = CLSIDFromProgID(L"OstrelZeltoDLL.ZeltoDLL", &clsid);
        if (FAILED(hr))
            comFailed("finding the registered server", hr);
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                              reinterpret_cast<void**>(&m_board));
        if (FAILED(hr))
            comFailed("creating the object", hr);
    }
    ~LateBound() { m_board->Release(); }
    LateBound(const LateBound&) = delete;
    LateBound& operator=(const LateBound&) = delete;

    void put(DISPID id, VARIANT value) {
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params{&value, &named, 1, 1};
        const HRESULT hr = m_board->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr,
                                           nullptr, nullptr);
        if (FAILED(hr))
            comFailed("setting a property", hr);
    }

    // A call with no argument or one; the result is a plain value, nothing to clear.
    VARIANT invoke(DISPID id, WORD flags, VARIANT* argument = nullptr) {
        DISPPARAMS params{argument, nullptr, argument ? 1u : 0u, 0};
        VARIANT result;
        VariantInit(&result);
        const HRESULT hr =
            m_board->Invoke(id, IID_NULL, 0, flags, &params, &result, nullptr, nullptr);
        if (FAILED(hr))
            comFailed("a call", hr);
        return result;
    }

  private:
    IDispatch* m_board = nullptr;
};

} // namespace zelto::bench
