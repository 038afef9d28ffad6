#pragma once

// The COM face of one board object: the _ZeltoDLL table of methods, IDispatch through the type
// library, and error info. Every method only translates and calls the core's ZeltoDLL.

#include "OstrelZeltoDLL_h.h"
#include "com_resources.h"
#include "error_info.h"
#include "member_list.h"
#include "variant_convert.h"
#include "zeltodll.h"

#include <atomic>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace zelto::com {

// The COM type of each automation type of the member list, and the translation both ways.
template <typename T> struct ComType;
template <> struct ComType<automation::Integer> {
    using type = short;
    static int16_t in(short v) { return v; }
    static void init(short*) {}
    static void out(short* p, int16_t v) { *p = v; }
};
template <> struct ComType<automation::Long> {
    using type = LONG;
    static int32_t in(LONG v) { return v; }
    static void init(LONG*) {}
    static void out(LONG* p, int32_t v) { *p = v; }
};
template <> struct ComType<automation::Boolean> {
    using type = VARIANT_BOOL;
    static bool in(VARIANT_BOOL v) { return v != VARIANT_FALSE; }
    static void init(VARIANT_BOOL*) {}
    static void out(VARIANT_BOOL* p, bool v) { *p = v ? VARIANT_TRUE : VARIANT_FALSE; }
};
template <> struct ComType<automation::Variant> {
    using type = VARIANT;
    static Variant in(const VARIANT& v) { return fromVariant(v); }
    static void init(VARIANT* p) { VariantInit(p); }
    static void out(VARIANT* p, const Variant& v) { toVariant(v, p); }
};
// By reference: read through the pointer, never written back.
template <typename T> struct ComType<automation::ByRef<T>> {
    using type = typename ComType<T>::type*;
    static auto in(type p) { return ComType<T>::in(*p); }
};

template <typename T> bool isNull(T* p) {
    return p == nullptr;
}
template <typename T> bool isNull(const T&) {
    return false;
}

class ZeltoObject final : public _ZeltoDLL, public ISupportErrorInfo {
  public:
    // A function with a typed by-reference parameter: its identifier, kind and index in the type
    // information.
    struct ByRefFunction {
        MEMBERID id;
        INVOKEKIND kind;
        UINT index;
    };

    // typeInfo describes _ZeltoDLL; the object keeps a reference. The reference count starts at 1.
    ZeltoObject(std::unique_ptr<ZeltoDLL> board, ITypeInfo* typeInfo);
    ZeltoObject(const ZeltoObject&) = delete;
    ZeltoObject& operator=(const ZeltoObject&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** out) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo,
                                     UINT* argErr) override;

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

    // _ZeltoDLL: one forwarder per row of the member list.
#define ZELTO_COM_PARAM(T, name) typename ComType<automation::T>::type name
#define ZELTO_COM_ARG(T, name) ComType<automation::T>::in(name)
#define ZELTO_COM_NAME(T, name) name
// clang-format off
#define ZELTO_COM_FORWARD(method, name, result, ...)                                               \
    HRESULT STDMETHODCALLTYPE method(ZELTO_EACH(ZELTO_COM_PARAM, __VA_ARGS__)) override {          \
        return forward([&] { m_board->name(ZELTO_EACH(ZELTO_COM_ARG, __VA_ARGS__)); }              \
                       __VA_OPT__(, ZELTO_EACH(ZELTO_COM_NAME, __VA_ARGS__)));                     \
    }
#define ZELTO_COM_FORWARD_RESULT(method, name, result, ...)                                        \
    HRESULT STDMETHODCALLTYPE method(ZELTO_EACH(ZELTO_COM_PARAM, __VA_ARGS__) __VA_OPT__(,)       \
                                     typename ComType<automation::result>::type* retval) override {\
        return forwardResult<automation::result>(                                                  \
            retval, [&] { return m_board->name(ZELTO_EACH(ZELTO_COM_ARG, __VA_ARGS__)); }          \
            __VA_OPT__(, ZELTO_EACH(ZELTO_COM_NAME, __VA_ARGS__)));                                \
    }
// clang-format on
#define ZELTO_COM_GET(name, id, result, ...)                                                       \
    ZELTO_COM_FORWARD_RESULT(get_##name, name, result, __VA_ARGS__)
#define ZELTO_COM_LET(name, ...) ZELTO_COM_FORWARD(put_##name, name, None, __VA_ARGS__)
#define ZELTO_COM_FUNC(name, id, result, ...)                                                      \
    ZELTO_COM_FORWARD_RESULT(name, name, result, __VA_ARGS__)
#define ZELTO_COM_SUB(name, id, ...) ZELTO_COM_FORWARD(name, name, None, __VA_ARGS__)
    ZELTO_MEMBERS(ZELTO_COM_GET, ZELTO_COM_LET, ZELTO_COM_FUNC, ZELTO_COM_SUB)

  private:
    ~ZeltoObject();

    // Assigns m_raised after the body, so that members re-entered during the body's wait for the
    // link cannot leave their outcome behind for the outer call.
    template <typename Body> HRESULT call(Body&& body) {
        RaisedError raised{S_OK, {}};
        const HRESULT hr = guarded(&raised, std::forward<Body>(body));
        if (FAILED(hr) && raised.hresult == hr)
            m_raised = std::move(raised);
        else
            m_raised.reset();
        return hr;
    }
    // A forwarder's body runs only when every pointer the caller handed it is valid.
    template <typename Body, typename... Args> HRESULT forward(Body&& body, const Args&... args) {
        if ((isNull(args) || ...))
            return E_POINTER;
        return call(std::forward<Body>(body));
    }
    template <typename Result, typename Out, typename Get, typename... Args>
    HRESULT forwardResult(Out* out, Get&& getter, const Args&... args) {
        if (!out || (isNull(args) || ...))
            return E_POINTER;
        ComType<Result>::init(out);
        return call([&] { ComType<Result>::out(out, getter()); });
    }

    std::atomic<ULONG> m_refs{1};
    std::unique_ptr<ZeltoDLL> m_board;
    ComPtr<ITypeInfo> m_typeInfo;
    std::optional<RaisedError> m_raised; // what the last member raised, for Invoke's EXCEPINFO
    // The functions with typed by-reference parameters, found once.
    std::vector<ByRefFunction> m_byRefFunctions;
};

} // namespace zelto::com
