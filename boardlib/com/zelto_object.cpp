#include "zelto_object.h"

#include "dispatch_args.h"
#include "server.h"
#include "variant_convert.h"

namespace zelto::com {
namespace {

VARIANT_BOOL toVb(bool b) {
    return b ? VARIANT_TRUE : VARIANT_FALSE;
}

// Releases a FUNCDESC obtained from the type information.
class FuncDescHolder {
  public:
    FuncDescHolder(ITypeInfo* info, FUNCDESC* desc) : m_info(info), m_desc(desc) {}
    FuncDescHolder(const FuncDescHolder&) = delete;
    FuncDescHolder& operator=(const FuncDescHolder&) = delete;
    ~FuncDescHolder() { m_info->ReleaseFuncDesc(m_desc); }
    const FUNCDESC& operator*() const { return *m_desc; }

  private:
    ITypeInfo* m_info;
    FUNCDESC* m_desc;
};

// Every function that has a typed by-reference parameter.
std::vector<ZeltoObject::ByRefFunction> byRefFunctions(ITypeInfo* info) {
    std::vector<ZeltoObject::ByRefFunction> found;
    TYPEATTR* attr = nullptr;
    if (FAILED(info->GetTypeAttr(&attr)))
        return found;
    const WORD count = attr->cFuncs;
    info->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < count; ++i) {
        FUNCDESC* desc = nullptr;
        if (FAILED(info->GetFuncDesc(i, &desc)))
            continue;
        FuncDescHolder holder(info, desc);
        if (ByRefArguments::hasTypedByRef(*desc))
            found.push_back({desc->memid, desc->invkind, i});
    }
    return found;
}

} // namespace

ZeltoObject::ZeltoObject(std::unique_ptr<ZeltoDLL> board, ITypeInfo* typeInfo)
    : m_board(std::move(board)), m_typeInfo(typeInfo) {
    m_typeInfo->AddRef();
    m_byRefFunctions = byRefFunctions(typeInfo);
    moduleObjectCreated();
}

ZeltoObject::~ZeltoObject() {
    moduleObjectDestroyed();
}

HRESULT ZeltoObject::QueryInterface(REFIID riid, void** out) {
    if (!out)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID__ZeltoDLL)
        *out = static_cast<_ZeltoDLL*>(this);
    else if (riid == IID_ISupportErrorInfo)
        *out = static_cast<ISupportErrorInfo*>(this);
    else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG ZeltoObject::AddRef() {
    return ++m_refs;
}

ULONG ZeltoObject::Release() {
    const ULONG left = --m_refs;
    if (left == 0)
        delete this;
    return left;
}

HRESULT ZeltoObject::GetTypeInfoCount(UINT* count) {
    if (!count)
        return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT ZeltoObject::GetTypeInfo(UINT index, LCID, ITypeInfo** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (index != 0)
        return DISP_E_BADINDEX;
    m_typeInfo->AddRef();
    *out = m_typeInfo.get();
    return S_OK;
}

HRESULT ZeltoObject::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (riid != IID_NULL)
        return DISP_E_UNKNOWNINTERFACE;
    return DispGetIDsOfNames(m_typeInfo.get(), names, count, ids);
}

HRESULT ZeltoObject::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                            VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) {
    if (riid != IID_NULL)
        return DISP_E_UNKNOWNINTERFACE;
    if (!params)
        return E_INVALIDARG;
    if (excepInfo)
        *excepInfo = EXCEPINFO{};

    ByRefArguments byRef;
    for (const ByRefFunction& f : m_byRefFunctions) {
        if (f.id != id || !(flags & f.kind))
            continue;
        FUNCDESC* desc = nullptr;
        if (SUCCEEDED(m_typeInfo->GetFuncDesc(f.index, &desc))) {
            const FuncDescHolder func(m_typeInfo.get(), desc);
            const HRESULT hr = byRef.prepare(*func, *params, argErr);
            if (FAILED(hr))
                return hr;
        }
        break;
    }

    // Keeps the object alive if a re-entered call releases the client's last reference.
    AddRef();
    m_raised.reset();
    HRESULT hr = m_typeInfo->Invoke(static_cast<_ZeltoDLL*>(this), id, flags, byRef.params(params),
                                    result, excepInfo, argErr);
    if (m_raised) {
        fillExcepInfo(*m_raised, excepInfo);
        m_raised.reset();
        hr = DISP_E_EXCEPTION;
    }
    Release();
    return hr;
}

HRESULT ZeltoObject::InterfaceSupportsErrorInfo(REFIID riid) {
    return riid == IID__ZeltoDLL || riid == IID_IDispatch ? S_OK : S_FALSE;
}

// --- _ZeltoDLL: translation only -------------------------------------------------------------

HRESULT ZeltoObject::get_CommPort(short* retval) {
    return get(retval, [&] { return m_board->CommPort(); });
}
HRESULT ZeltoObject::put_CommPort(short New_CommPort) {
    return call([&] { m_board->CommPort(New_CommPort); });
}
HRESULT ZeltoObject::get_tris(VARIANT* retval) {
    if (!retval)
        return E_POINTER;
    VariantInit(retval);
    return call([&] { toVariant(m_board->tris(), retval); });
}
HRESULT ZeltoObject::put_tris(VARIANT New_tris) {
    return call([&] { m_board->tris(fromVariant(New_tris)); });
}
HRESULT ZeltoObject::get_pins(LONG* retval) {
    return get(retval, [&] { return m_board->pins(); });
}
HRESULT ZeltoObject::put_pins(LONG New_pins) {
    return call([&] { m_board->pins(New_pins); });
}
HRESULT ZeltoObject::get_eeprom(LONG add, LONG* retval) {
    return get(retval, [&] { return m_board->eeprom(add); });
}
HRESULT ZeltoObject::put_eeprom(LONG add, LONG New_eeprom) {
    return call([&] { m_board->eeprom(add, New_eeprom); });
}
HRESULT ZeltoObject::ok(VARIANT_BOOL* retval) {
    return get(retval, [&] { return toVb(m_board->ok()); });
}
HRESULT ZeltoObject::get_led(VARIANT* retval) {
    if (!retval)
        return E_POINTER;
    VariantInit(retval);
    return call([&] { toVariant(m_board->led(), retval); });
}
HRESULT ZeltoObject::put_led(VARIANT New_led) {
    return call([&] { m_board->led(fromVariant(New_led)); });
}
HRESULT ZeltoObject::a2d(LONG pin, LONG* retval) {
    return get(retval, [&] { return m_board->a2d(pin); });
}
HRESULT ZeltoObject::toggle(LONG pin) {
    return call([&] { m_board->toggle(pin); });
}
HRESULT ZeltoObject::high(LONG pin) {
    return call([&] { m_board->high(pin); });
}
HRESULT ZeltoObject::low(LONG pin) {
    return call([&] { m_board->low(pin); });
}
HRESULT ZeltoObject::inp(LONG pin, LONG* retval) {
    return get(retval, [&] { return m_board->inp(pin); });
}
HRESULT ZeltoObject::count(LONG pin, LONG duration, LONG* retval) {
    return get(retval, [&] { return m_board->count(pin, duration); });
}
HRESULT ZeltoObject::pulseout(LONG pin, LONG period) {
    return call([&] { m_board->pulseout(pin, period); });
}
HRESULT ZeltoObject::pulsein(LONG pin, LONG state, LONG* retval) {
    return get(retval, [&] { return m_board->pulsein(pin, state); });
}
HRESULT ZeltoObject::pwm(LONG pin, LONG duty, LONG fduration) {
    return call([&] { m_board->pwm(pin, duty, fduration); });
}
HRESULT ZeltoObject::freq(LONG pin, LONG tone, LONG duration) {
    return call([&] { m_board->freq(pin, tone, duration); });
}
HRESULT ZeltoObject::rctime(LONG pin, LONG state, LONG* retval) {
    return get(retval, [&] { return m_board->rctime(pin, state); });
}
HRESULT ZeltoObject::get_portopen(VARIANT_BOOL* retval) {
    return get(retval, [&] { return toVb(m_board->portopen()); });
}
HRESULT ZeltoObject::put_portopen(VARIANT_BOOL New_open) {
    return call([&] { m_board->portopen(New_open != VARIANT_FALSE); });
}
HRESULT ZeltoObject::get_counter(LONG* retval) {
    return get(retval, [&] { return m_board->counter(); });
}
HRESULT ZeltoObject::put_counter(LONG New_counter) {
    return call([&] { m_board->counter(New_counter); });
}
HRESULT ZeltoObject::setcounter(short prescale, VARIANT_BOOL countmode) {
    return call([&] { m_board->setcounter(prescale, countmode != VARIANT_FALSE); });
}
HRESULT ZeltoObject::get_ready(VARIANT_BOOL* retval) {
    return get(retval, [&] { return toVb(m_board->ready()); });
}
HRESULT ZeltoObject::put_ready(VARIANT_BOOL New_ready) {
    return call([&] { m_board->ready(New_ready != VARIANT_FALSE); });
}
HRESULT ZeltoObject::get_errflag(VARIANT_BOOL* retval) {
    return get(retval, [&] { return toVb(m_board->errflag()); });
}
HRESULT ZeltoObject::put_errflag(VARIANT_BOOL New_errflag) {
    return call([&] { m_board->errflag(New_errflag != VARIANT_FALSE); });
}
HRESULT ZeltoObject::resetall() {
    return call([&] { m_board->resetall(); });
}
HRESULT ZeltoObject::repeat(LONG ct) {
    return call([&] { m_board->repeat(ct); });
}
HRESULT ZeltoObject::readbyte(LONG* retval) {
    return get(retval, [&] { return m_board->readbyte(); });
}
HRESULT ZeltoObject::readword(LONG* retval) {
    return get(retval, [&] { return m_board->readword(); });
}
HRESULT ZeltoObject::a2dconf(VARIANT_BOOL* justify, VARIANT_BOOL* clkx2, short* cselect) {
    if (!justify || !clkx2 || !cselect)
        return E_POINTER;
    // Read only: the caller's variables are never written.
    return call([&] {
        const bool j = *justify != VARIANT_FALSE;
        const bool c = *clkx2 != VARIANT_FALSE;
        const int16_t s = *cselect;
        m_board->a2dconf(j, c, s);
    });
}

} // namespace zelto::com
