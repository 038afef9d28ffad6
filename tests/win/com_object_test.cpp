// The object over the in-process simulated board: error reporting, argument coercion, by-reference
// arguments, name lookups and re-entry from a timer.

#include "OstrelZeltoDLL_h.h"
#include "faulty_sim_serial.h"
#include "member_table.h"
#include "server.h"
#include "win32_message_pump.h"
#include "win_test_util.h"
#include "zelto_object.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>

using namespace zelto;
using namespace zelto::wintest;
using com::ComPtr;
using com::VariantHolder;

namespace {

const auto* const g_env = ::testing::AddGlobalTestEnvironment(new ComApartment);
namespace d = zelto::dispid;

class ObjectTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto serial = std::make_unique<test::FaultySimSerial>();
        m_sim = serial.get();
        ComPtr<ITypeInfo> info;
        ASSERT_HRESULT_SUCCEEDED(com::loadTypeInfo(dllPath(), info.put()));
        const Limits limits{Millis{2000}, Millis{50}, Millis{200}};
        m_object = new com::ZeltoObject(
            std::make_unique<zelto::ZeltoDLL>(std::move(serial), &m_pump, limits), info.get());
        m_disp = ComPtr<IDispatch>(static_cast<_ZeltoDLL*>(m_object));
    }
    void TearDown() override {
        m_disp.reset();
        SetErrorInfo(0, nullptr);
    }
    void open() {
        ASSERT_HRESULT_SUCCEEDED(m_object->put_portopen(VARIANT_TRUE));
        m_sim->clearWrites();
    }
    InvokeResult call(DISPID id, WORD flags, std::vector<VARIANT> args = {}) {
        return invoke(m_disp.get(), id, flags, std::move(args));
    }

    Win32MessagePump m_pump;
    test::FaultySimSerial* m_sim = nullptr;
    com::ZeltoObject* m_object = nullptr;
    ComPtr<IDispatch> m_disp;
};

struct FailureRow {
    const char* what;
    bool openFirst;
    bool portHeld; // another program holds the port
    std::function<HRESULT(com::ZeltoObject&)> vtableCall;
    DISPID id;
    WORD flags;
    std::vector<VARIANT> args;
    long number;
    const char* description;
};

// Arguments made from core values, first to last.
template <typename... Values> std::vector<VARIANT> args(const Values&... values) {
    return {v(Variant(values))...};
}

const FailureRow failureRows[] = {
    {"high with the port closed", false, false, [](com::ZeltoObject& o) { return o.high(1); },
     d::high, M, args(1), 68, "Device unavailable"},
    {"ready set", false, false, [](com::ZeltoObject& o) { return o.put_ready(VARIANT_TRUE); },
     d::ready, P, args(false), 387, "Set not permitted"},
    {"led read", true, false,
     [](com::ZeltoObject& o) {
         VariantHolder v;
         return o.get_led(v.get());
     },
     d::led, G, args(), 393, "Get not supported at runtime"},
    {"counter set", true, false, [](com::ZeltoObject& o) { return o.put_counter(5); }, d::counter,
     P, args(5), 387, "Set not permitted"},
    {"pwm duty 256", true, false, [](com::ZeltoObject& o) { return o.pwm(0, 256, 1000); }, d::pwm,
     M, args(0, 256, 1000), 5, "Invalid procedure call or argument"},
    {"tris Null sent", true, false,
     [](com::ZeltoObject& o) { return o.put_tris(v(Variant::null())); }, d::tris, P,
     args(Variant::null()), 94, "Invalid use of Null"},
    {"port held by another program", false, true,
     [](com::ZeltoObject& o) { return o.put_portopen(VARIANT_TRUE); }, d::portopen, P, args(true),
     8102, "Serial port already in use by another program"},
};

void PrintTo(const FailureRow& row, std::ostream* os) {
    *os << row.what;
}

} // namespace

class Failure : public ObjectTest, public ::testing::WithParamInterface<FailureRow> {
  protected:
    void SetUp() override {
        ObjectTest::SetUp();
        if (GetParam().openFirst)
            open();
        if (GetParam().portHeld)
            m_sim->setOpenError(err::PortInUse);
    }
};

TEST_P(Failure, ReachesEarlyAndLateBoundCallersAndWritesNothing) {
    const FailureRow& row = GetParam();
    const HRESULT hr = row.vtableCall(*m_object);
    EXPECT_EQ(static_cast<uint32_t>(hr), 0x800A0000u + row.number);
    ComPtr<ISupportErrorInfo> support;
    ASSERT_HRESULT_SUCCEEDED(
        m_disp->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(support.put())));
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID__ZeltoDLL), S_OK);
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
    com::Bstr description, source;
    GUID guid{};
    info->GetDescription(description.put());
    info->GetSource(source.put());
    info->GetGUID(&guid);
    EXPECT_EQ(narrow(description.get()), row.description);
    EXPECT_EQ(narrow(source.get()), "OstrelZeltoDLL.ZeltoDLL");
    EXPECT_EQ(guid, IID__ZeltoDLL);

    const InvokeResult r = call(row.id, row.flags, row.args);
    EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(static_cast<uint32_t>(r.excep.scode), 0x800A0000u + row.number);
    EXPECT_EQ(r.excep.wCode, 0) << "scripting clients read scode, not wCode";
    EXPECT_EQ(r.number(), row.number);
    EXPECT_EQ(r.description(), row.description);
    EXPECT_EQ(narrow(r.source.get()), "OstrelZeltoDLL.ZeltoDLL");
    EXPECT_EQ(m_sim->written(), "") << "nothing reaches the port";
}

INSTANTIATE_TEST_SUITE_P(Rows, Failure, ::testing::ValuesIn(failureRows));

TEST_F(ObjectTest, TypedArgumentsAreCoercedByTheRuntime) {
    VARIANT seven = v(int16_t{7});
    const struct {
        const char* what;
        VARIANT in;
        HRESULT hr;
        LONG pins;
    } rows[] = {
        {"2.5 rounds to even", v(2.5), S_OK, 2},
        {"3.5 rounds to even", v(3.5), S_OK, 4},
        {"numeric string", v("12"), S_OK, 12},
        {"True", v(true), S_OK, -1},
        {"variable", vRef(&seven), S_OK, 7},
        {"text", v("abc"), DISP_E_TYPEMISMATCH, 0},
        {"Null", v(Variant::null()), DISP_E_TYPEMISMATCH, 0},
        {"beyond Long", v(2147483648.0), DISP_E_OVERFLOW, 0},
        {"NaN", v(std::nan("")), DISP_E_OVERFLOW, 0},
        {"infinity", v(HUGE_VAL), DISP_E_OVERFLOW, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_HRESULT_SUCCEEDED(m_object->put_pins(0));
        const InvokeResult r = call(d::pins, P, {row.in});
        EXPECT_EQ(r.hr, row.hr);
        LONG pins = -99;
        ASSERT_HRESULT_SUCCEEDED(m_object->get_pins(&pins));
        EXPECT_EQ(pins, row.pins);
    }
    EXPECT_EQ(V_I2(&seven), 7);
    EXPECT_EQ(m_sim->written(), "") << "the port is closed: pins works on its cache";
}

// tris keeps whatever a client gave it and gives it back with its type; only sending converts it.
TEST_F(ObjectTest, TrisKeepsAnyValueWithItsType) {
    const LONG elements[] = {3, 4};
    VariantHolder array;
    V_VT(array.get()) = VT_ARRAY | VT_I4;
    V_ARRAY(array.get()) = SafeArrayCreateVector(VT_I4, 0, 2);
    std::memcpy(V_ARRAY(array.get())->pvData, elements, sizeof elements);
    const struct {
        const char* what;
        VARIANT in;
        const char* sent; // with the port open; empty when it fails with 13
    } rows[] = {
        {"byte 200", typed(VT_UI1, [](VARIANT& x) { V_UI1(&x) = 200; }), "\x02\xE4"},
        {"currency 2.5", typed(VT_CY, [](VARIANT& x) { V_CY(&x).int64 = 25000; }), "\x02\x81"},
        {"date", typed(VT_DATE, [](VARIANT& x) { V_DATE(&x) = 3.0; }), "\x03\x81"},
        {"array", *array.get(), ""},
        {"object", typed(VT_DISPATCH, [this](VARIANT& x) { V_DISPATCH(&x) = m_disp.get(); }), ""},
    };
    open();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        m_sim->clearWrites();
        const bool sendable = *row.sent != '\0';
        EXPECT_EQ(call(d::tris, P, {row.in}).number(), sendable ? -1 : 13);
        EXPECT_EQ(m_sim->written(), row.sent);
        ASSERT_HRESULT_SUCCEEDED(m_object->put_portopen(VARIANT_FALSE));
        const InvokeResult got = call(d::tris, G);
        const VARIANT& out = *got.value.get();
        ASSERT_EQ(V_VT(&out), V_VT(&row.in));
        if (V_VT(&out) & VT_ARRAY) {
            EXPECT_NE(V_ARRAY(&out), V_ARRAY(&row.in)) << "a copy";
            EXPECT_EQ(std::memcmp(V_ARRAY(&out)->pvData, elements, sizeof elements), 0);
        } else if (V_VT(&out) == VT_DISPATCH) {
            EXPECT_EQ(V_DISPATCH(&out), V_DISPATCH(&row.in));
        } else {
            EXPECT_EQ(VarCmp(const_cast<VARIANT*>(&out), const_cast<VARIANT*>(&row.in),
                             LOCALE_USER_DEFAULT, 0),
                      static_cast<HRESULT>(VARCMP_EQ));
        }
        // Also lets the object go that kept this one.
        EXPECT_EQ(call(d::tris, P, {v(Variant())}).hr, S_OK);
        open();
    }
}

TEST_F(ObjectTest, A2dconfTakesVariablesAndLiteralsAndLeavesVariablesAlone) {
    open();
    // Script variables holding a Long 0, a Long 1 and a numeric string.
    VARIANT justify = v(0), clkx2 = v(1), cselect = v("5");
    InvokeResult r = call(d::a2dconf, M, {vRef(&justify), vRef(&clkx2), vRef(&cselect)});
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(m_sim->written(), "\x31\xA5");
    EXPECT_EQ(V_VT(&justify), VT_I4);
    EXPECT_EQ(V_I4(&justify), 0);
    EXPECT_EQ(V_VT(&clkx2), VT_I4);
    EXPECT_EQ(V_I4(&clkx2), 1) << "not turned into True";
    EXPECT_EQ(V_VT(&cselect), VT_BSTR);
    EXPECT_EQ(narrow(V_BSTR(&cselect)), "5");

    m_sim->clearWrites();
    r = call(d::a2dconf, M, {v(true), v(true), v(int16_t{3})});
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(m_sim->written(), "\x31\xE3");

    // Early-bound style: typed pointers.
    m_sim->clearWrites();
    VARIANT_BOOL f = VARIANT_FALSE;
    SHORT sel = 127;
    const VARIANT flag = typed(VT_BYREF | VT_BOOL, [&](VARIANT& x) { V_BOOLREF(&x) = &f; });
    r = call(d::a2dconf, M,
             {flag, flag, typed(VT_BYREF | VT_I2, [&](VARIANT& x) { V_I2REF(&x) = &sel; })});
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(m_sim->written(), "\x31\xFF");

    // A value that is no Boolean: the argument is named, nothing is sent.
    m_sim->clearWrites();
    VARIANT text = v("abc");
    r = call(d::a2dconf, M, {vRef(&text), v(false), v(int16_t{0})});
    EXPECT_EQ(r.hr, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(r.argErr, 2u) << "rgvarg index of the first argument";
    // cselect beyond 127: the board object's overflow.
    VARIANT big = v(128);
    r = call(d::a2dconf, M, {v(false), v(false), vRef(&big)});
    EXPECT_EQ(r.number(), 6);
    EXPECT_EQ(m_sim->written(), "");
    VariantClear(&cselect);
    VariantClear(&text);
}

TEST_F(ObjectTest, VariantParametersReadThroughVariables) {
    VARIANT fifteen = v("15");
    InvokeResult r = call(d::tris, P, {vRef(&fifteen)});
    ASSERT_EQ(r.hr, S_OK);
    r = call(d::tris, G);
    ASSERT_EQ(r.hr, S_OK);
    ASSERT_EQ(V_VT(r.value.get()), VT_BSTR) << "the cache keeps the caller's value unconverted";
    EXPECT_EQ(narrow(V_BSTR(r.value.get())), "15");
    EXPECT_EQ(V_VT(&fifteen), VT_BSTR);

    // Opening sends the cached values: pins 0, then tris 15.
    ASSERT_HRESULT_SUCCEEDED(m_object->put_portopen(VARIANT_TRUE));
    EXPECT_EQ(m_sim->written().substr(2), "\x04\x80\x03\x87");
    VariantClear(&fifteen);
}

TEST_F(ObjectTest, DispatchLookups) {
    const struct {
        const wchar_t* name;
        HRESULT hr;
        DISPID id;
    } rows[] = {{L"a2dconf", S_OK, d::a2dconf},
                {L"COMMPORT", S_OK, d::CommPort},
                {L"Ready", S_OK, d::ready},
                {L"nosuch", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN}};
    for (const auto& row : rows) {
        LPOLESTR name = const_cast<LPOLESTR>(row.name);
        DISPID id = 0;
        EXPECT_EQ(m_disp->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), row.hr) << narrow(row.name);
        EXPECT_EQ(id, row.id) << narrow(row.name);
    }
    UINT count = 0;
    EXPECT_EQ(m_disp->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    const DISPID noMember = 0x60030099;
    EXPECT_EQ(call(noMember, M).hr, DISP_E_MEMBERNOTFOUND);
    // Calls refused before anything runs: too few or too many arguments, on members with and
    // without a result; NaN or an infinity for a typed parameter (the runtime's overflow) or in a
    // Variant (the board object's 6).
    open();
    const double nan = std::nan("");
    const struct {
        DISPID id;
        WORD flags;
        std::vector<VARIANT> args;
        HRESULT hr;
    } refused[] = {
        {d::high, M, {}, DISP_E_BADPARAMCOUNT},
        {d::high, M, {v(1), v(2)}, DISP_E_BADPARAMCOUNT},
        {d::resetall, M, {v(1)}, DISP_E_BADPARAMCOUNT},
        {d::pwm, M, {v(0), v(10), v(100), v(5)}, DISP_E_BADPARAMCOUNT},
        {d::a2dconf, M, {v(0), v(0), v(0), v(0)}, DISP_E_BADPARAMCOUNT},
        {d::a2d, M, {v(0), v(0)}, DISP_E_BADPARAMCOUNT},
        {d::pins, P, {v(0), v(0)}, DISP_E_BADPARAMCOUNT},
        {d::eeprom, P, {v(0)}, DISP_E_BADPARAMCOUNT},
        {d::tris, G, {v(0)}, DISP_E_BADPARAMCOUNT},
        {d::ok, M | G, {v(0)}, DISP_E_BADPARAMCOUNT},
        {d::high, M, {v(nan)}, DISP_E_OVERFLOW},
        {d::setcounter, M, {v(nan), v(true)}, DISP_E_OVERFLOW},
        {d::pwm, M, {v(0), v(0), v(-HUGE_VAL)}, DISP_E_OVERFLOW},
        {d::pins, P, {v(nan)}, DISP_E_OVERFLOW},
        {d::tris, P, {v(nan)}, DISP_E_EXCEPTION},
        {d::led, P, {v(HUGE_VAL)}, DISP_E_EXCEPTION},
    };
    for (const auto& row : refused) {
        SCOPED_TRACE(::testing::Message() << std::hex << row.id << " " << row.args.size());
        const InvokeResult r = call(row.id, row.flags, row.args);
        EXPECT_EQ(r.hr, row.hr);
        if (row.hr == DISP_E_EXCEPTION) {
            EXPECT_EQ(r.number(), 6);
        }
        EXPECT_EQ(m_sim->written(), "");
    }
    EXPECT_EQ(m_object->get_CommPort(nullptr), E_POINTER);

    // Malformed calls: every pointer handed in is checked, and nothing runs.
    VARIANT one = v(1),
            nullRef = typed(VT_BYREF | VT_VARIANT, [](VARIANT&x) { V_BYREF(&x) = nullptr; });
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS noArray{nullptr, nullptr, 3, 0}, noNamedId{&one, nullptr, 1, 1},
        moreNamed{nullptr, &named, 0, 1}, pointsNowhere{&nullRef, nullptr, 1, 0};
    const struct {
        const char* what;
        DISPID id;
        WORD flags;
        DISPPARAMS* params;
    } malformed[] = {
        {"a2dconf, three arguments, no array", d::a2dconf, M, &noArray},
        {"no parameters", d::high, M, nullptr},
        {"named argument without its identifier", d::pins, P, &noNamedId},
        {"more named arguments than arguments", d::pins, P, &moreNamed},
        {"a variable that points nowhere", d::high, M, &pointsNowhere},
    };
    for (const auto& row : malformed) {
        EXPECT_EQ(
            m_disp->Invoke(row.id, IID_NULL, 0, row.flags, row.params, nullptr, nullptr, nullptr),
            E_INVALIDARG)
            << row.what;
    }
    EXPECT_EQ(m_sim->written(), "");
    LPOLESTR name = const_cast<LPOLESTR>(L"high"), noName = nullptr;
    DISPID id = 0;
    EXPECT_EQ(m_disp->GetIDsOfNames(IID_NULL, nullptr, 1, 0, &id), E_POINTER);
    EXPECT_EQ(m_disp->GetIDsOfNames(IID_NULL, &name, 1, 0, nullptr), E_POINTER);
    EXPECT_EQ(m_disp->GetIDsOfNames(IID_NULL, &noName, 1, 0, &id), E_INVALIDARG);
    EXPECT_EQ(m_disp->GetTypeInfo(0, 0, nullptr), E_POINTER);
    const InvokeResult port = call(d::CommPort, G);
    EXPECT_EQ(V_VT(port.value.get()), VT_I2);
    EXPECT_EQ(V_I2(port.value.get()), 1);
}

// A WM_TIMER that fires while a member waits for the link calls into the object; its bytes leave
// first.
namespace {
IDispatch* g_timerTarget = nullptr;
sim::SimSerial* g_timerSim = nullptr;
HRESULT g_timerResult = E_FAIL;
int g_timerFired = 0;

void CALLBACK onTimer(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    ++g_timerFired;
    g_timerSim->setCts(true);
    g_timerResult = invoke(g_timerTarget, d::high, M, {v(3)}).hr;
}
} // namespace

TEST_F(ObjectTest, TimerDuringTheLinkWaitSendsFirst) {
    open();
    m_sim->setCts(false);
    g_timerTarget = m_disp.get();
    g_timerSim = m_sim;
    g_timerFired = 0;
    ASSERT_NE(SetTimer(nullptr, 0, 30, onTimer), 0u);
    const InvokeResult r = call(d::resetall, M);
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(g_timerFired, 1);
    EXPECT_EQ(g_timerResult, S_OK);
    EXPECT_EQ(m_sim->writes(), (std::vector<Bytes>{"\x17", "\x5C"}));
}
