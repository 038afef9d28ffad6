#pragma once

// The COM face of one board object: the _ZeltoDLL table of methods, IDispatch through the type
// library, and error info. Every method only translates and calls the core's ZeltoDLL.

#include "OstrelZeltoDLL_h.h"
#include "error_info.h"
#include "holders.h"
#include "zeltodll.h"

#include <atomic>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace zelto::com {

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

    // _ZeltoDLL
    HRESULT STDMETHODCALLTYPE get_CommPort(short* retval) override;
    HRESULT STDMETHODCALLTYPE put_CommPort(short New_CommPort) override;
    HRESULT STDMETHODCALLTYPE get_tris(VARIANT* retval) override;
    HRESULT STDMETHODCALLTYPE put_tris(VARIANT New_tris) override;
    HRESULT STDMETHODCALLTYPE get_pins(LONG* retval) override;
    HRESULT STDMETHODCALLTYPE put_pins(LONG New_pins) override;
    HRESULT STDMETHODCALLTYPE get_eeprom(LONG add, LONG* retval) override;
    HRESULT STDMETHODCALLTYPE put_eeprom(LONG add, LONG New_eeprom) override;
    HRESULT STDMETHODCALLTYPE ok(VARIANT_BOOL* retval) override;
    HRESULT STDMETHODCALLTYPE get_led(VARIANT* retval) override;
    HRESULT STDMETHODCALLTYPE put_led(VARIANT New_led) override;
    HRESULT STDMETHODCALLTYPE a2d(LONG pin, LONG* retval) override;
    HRESULT STDMETHODCALLTYPE toggle(LONG pin) override;
    HRESULT STDMETHODCALLTYPE high(LONG pin) override;
    HRESULT STDMETHODCALLTYPE low(LONG pin) override;
    HRESULT STDMETHODCALLTYPE inp(LONG pin, LONG* retval) override;
    HRESULT STDMETHODCALLTYPE count(LONG pin, LONG duration, LONG* retval) override;
    HRESULT STDMETHODCALLTYPE pulseout(LONG pin, LONG period) override;
    HRESULT STDMETHODCALLTYPE pulsein(LONG pin, LONG state, LONG* retval) override;
    HRESULT STDMETHODCALLTYPE pwm(LONG pin, LONG duty, LONG fduration) override;
    HRESULT STDMETHODCALLTYPE freq(LONG pin, LONG tone, LONG duration) override;
    HRESULT STDMETHODCALLTYPE rctime(LONG pin, LONG state, LONG* retval) override;
    HRESULT STDMETHODCALLTYPE get_portopen(VARIANT_BOOL* retval) override;
    HRESULT STDMETHODCALLTYPE put_portopen(VARIANT_BOOL New_open) override;
    HRESULT STDMETHODCALLTYPE get_counter(LONG* retval) override;
    HRESULT STDMETHODCALLTYPE put_counter(LONG New_counter) override;
    HRESULT STDMETHODCALLTYPE setcounter(short prescale, VARIANT_BOOL countmode) override;
    HRESULT STDMETHODCALLTYPE get_ready(VARIANT_BOOL* retval) override;
    HRESULT STDMETHODCALLTYPE put_ready(VARIANT_BOOL New_ready) override;
    HRESULT STDMETHODCALLTYPE get_errflag(VARIANT_BOOL* retval) override;
    HRESULT STDMETHODCALLTYPE put_errflag(VARIANT_BOOL New_errflag) override;
    HRESULT STDMETHODCALLTYPE resetall() override;
    HRESULT STDMETHODCALLTYPE repeat(LONG ct) override;
    HRESULT STDMETHODCALLTYPE readbyte(LONG* retval) override;
    HRESULT STDMETHODCALLTYPE readword(LONG* retval) override;
    HRESULT STDMETHODCALLTYPE a2dconf(VARIANT_BOOL* justify, VARIANT_BOOL* clkx2,
                                      short* cselect) override;

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
    template <typename Out, typename Get> HRESULT get(Out* out, Get&& getter) {
        if (!out)
            return E_POINTER;
        return call([&] { *out = getter(); });
    }

    std::atomic<ULONG> m_refs{1};
    std::unique_ptr<ZeltoDLL> m_board;
    ComPtr<ITypeInfo> m_typeInfo;
    std::optional<RaisedError> m_raised; // what the last member raised, for Invoke's EXCEPINFO
    // The functions with typed by-reference parameters, found once.
    std::vector<ByRefFunction> m_byRefFunctions;
};

} // namespace zelto::com
