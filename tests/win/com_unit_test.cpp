// The COM layer in-process: the type library against the member table, the resources, value
// translation, error reporting, by-reference arguments, unloading and re-entrancy by a timer.

#include "OstrelZeltoDLL_h.h"
#include "member_table.h"
#include "server.h"
#include "sim_serial.h"
#include "variant_convert.h"
#include "win32_message_pump.h"
#include "win_test_util.h"
#include "zelto_object.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

using namespace zelto;
using namespace zelto::wintest;
using com::ComPtr;
using com::VariantHolder;

namespace {

const auto* const g_env = ::testing::AddGlobalTestEnvironment(new ComApartment);

ComPtr<ITypeLib> loadLibrary() {
    ComPtr<ITypeLib> lib;
    EXPECT_HRESULT_SUCCEEDED(LoadTypeLibEx(dllPath().c_str(), REGKIND_NONE, lib.put()));
    return lib;
}

VARTYPE vtOf(ValueType t) {
    switch (t) {
    case ValueType::Integer:
        return VT_I2;
    case ValueType::Long:
        return VT_I4;
    case ValueType::Boolean:
        return VT_BOOL;
    case ValueType::Variant:
        return VT_VARIANT;
    case ValueType::None:
        break;
    }
    return VT_EMPTY;
}

INVOKEKIND invkindOf(MemberKind k) {
    switch (k) {
    case MemberKind::Method:
        return INVOKE_FUNC;
    case MemberKind::PropertyGet:
        return INVOKE_PROPERTYGET;
    case MemberKind::PropertyLet:
        return INVOKE_PROPERTYPUT;
    }
    return INVOKE_FUNC;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The type library

TEST(TypeLibrary, LibraryAndClassIdentity) {
    auto lib = loadLibrary();
    ASSERT_TRUE(lib);
    TLIBATTR* la = nullptr;
    ASSERT_HRESULT_SUCCEEDED(lib->GetLibAttr(&la));
    EXPECT_EQ(la->guid, LIBID_OstrelZeltoDLL);
    EXPECT_EQ(la->wMajorVerNum, 5);
    EXPECT_EQ(la->wMinorVerNum, 0);
    EXPECT_EQ(la->lcid, 0u);
#ifdef _WIN64
    EXPECT_EQ(la->syskind, SYS_WIN64);
#else
    EXPECT_EQ(la->syskind, SYS_WIN32);
#endif
    lib->ReleaseTLibAttr(la);

    com::Bstr name;
    ASSERT_HRESULT_SUCCEEDED(lib->GetDocumentation(-1, name.put(), nullptr, nullptr, nullptr));
    EXPECT_EQ(narrow(name.get()), "OstrelZeltoDLL");
    // Exactly the class and its interface (a dual interface counts once).
    EXPECT_EQ(lib->GetTypeInfoCount(), 2u);

    ComPtr<ITypeInfo> cls;
    ASSERT_HRESULT_SUCCEEDED(lib->GetTypeInfoOfGuid(CLSID_ZeltoDLL, cls.put()));
    TYPEATTR* ca = nullptr;
    ASSERT_HRESULT_SUCCEEDED(cls->GetTypeAttr(&ca));
    EXPECT_EQ(ca->typekind, TKIND_COCLASS);
    EXPECT_TRUE(ca->wTypeFlags & TYPEFLAG_FCANCREATE);
    EXPECT_EQ(ca->cImplTypes, 1) << "one default interface and no event interface";
    cls->ReleaseTypeAttr(ca);
    INT implFlags = 0;
    ASSERT_HRESULT_SUCCEEDED(cls->GetImplTypeFlags(0, &implFlags));
    EXPECT_EQ(implFlags & (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE), IMPLTYPEFLAG_FDEFAULT);
    HREFTYPE ref = 0;
    ASSERT_HRESULT_SUCCEEDED(cls->GetRefTypeOfImplType(0, &ref));
    ComPtr<ITypeInfo> iface;
    ASSERT_HRESULT_SUCCEEDED(cls->GetRefTypeInfo(ref, iface.put()));
    TYPEATTR* ia = nullptr;
    ASSERT_HRESULT_SUCCEEDED(iface->GetTypeAttr(&ia));
    EXPECT_EQ(ia->guid, IID__ZeltoDLL);
    iface->ReleaseTypeAttr(ia);
    ASSERT_HRESULT_SUCCEEDED(
        cls->GetDocumentation(MEMBERID_NIL, name.put(), nullptr, nullptr, nullptr));
    EXPECT_EQ(narrow(name.get()), "ZeltoDLL");
}

TEST(TypeLibrary, InterfaceMatchesMemberTable) {
    auto lib = loadLibrary();
    ASSERT_TRUE(lib);
    ComPtr<ITypeInfo> disp;
    ASSERT_HRESULT_SUCCEEDED(lib->GetTypeInfoOfGuid(IID__ZeltoDLL, disp.put()));
    TYPEATTR* da = nullptr;
    ASSERT_HRESULT_SUCCEEDED(disp->GetTypeAttr(&da));
    const WORD wanted =
        TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE;
    EXPECT_EQ(da->wTypeFlags & wanted, wanted);
    EXPECT_EQ(da->typekind, TKIND_DISPATCH);
    disp->ReleaseTypeAttr(da);

    // The table of methods: the interface half of the dual interface.
    HREFTYPE ref = 0;
    ASSERT_HRESULT_SUCCEEDED(disp->GetRefTypeOfImplType(-1, &ref));
    ComPtr<ITypeInfo> vt;
    ASSERT_HRESULT_SUCCEEDED(disp->GetRefTypeInfo(ref, vt.put()));
    TYPEATTR* va = nullptr;
    ASSERT_HRESULT_SUCCEEDED(vt->GetTypeAttr(&va));
    EXPECT_EQ(va->typekind, TKIND_INTERFACE);
    const WORD vtWanted =
        TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION;
    EXPECT_EQ(va->wTypeFlags & vtWanted, vtWanted);
    const auto& table = memberTable();
    ASSERT_EQ(va->cFuncs, table.size());
    vt->ReleaseTypeAttr(va);

    for (size_t i = 0; i < table.size(); ++i) {
        const Member& m = table[i];
        SCOPED_TRACE(std::string(m.name) + " #" + std::to_string(i));
        FUNCDESC* fd = nullptr;
        ASSERT_HRESULT_SUCCEEDED(vt->GetFuncDesc(static_cast<UINT>(i), &fd));
        EXPECT_EQ(fd->memid, m.dispid);
        EXPECT_EQ(fd->invkind, invkindOf(m.kind));
        // After the seven entries of IUnknown and IDispatch, in table order.
        EXPECT_EQ(fd->oVft, static_cast<SHORT>((7 + i) * sizeof(void*)));
        EXPECT_EQ(fd->elemdescFunc.tdesc.vt, VT_HRESULT);
        const bool hasResult = m.result != ValueType::None;
        ASSERT_EQ(fd->cParams, static_cast<SHORT>(m.params.size() + (hasResult ? 1 : 0)));

        for (size_t p = 0; p < m.params.size(); ++p) {
            const Param& param = m.params[p];
            SCOPED_TRACE(param.name);
            const ELEMDESC& ed = fd->lprgelemdescParam[p];
            if (param.byRef) {
                ASSERT_EQ(ed.tdesc.vt, VT_PTR);
                EXPECT_EQ(ed.tdesc.lptdesc->vt, vtOf(param.type));
                EXPECT_EQ(ed.paramdesc.wParamFlags & (PARAMFLAG_FIN | PARAMFLAG_FOUT),
                          PARAMFLAG_FIN | PARAMFLAG_FOUT);
            } else {
                EXPECT_EQ(ed.tdesc.vt, vtOf(param.type));
                EXPECT_EQ(ed.paramdesc.wParamFlags & PARAMFLAG_FOUT, 0);
            }
        }
        if (hasResult) {
            const ELEMDESC& ed = fd->lprgelemdescParam[fd->cParams - 1];
            ASSERT_EQ(ed.tdesc.vt, VT_PTR);
            EXPECT_EQ(ed.tdesc.lptdesc->vt, vtOf(m.result));
            EXPECT_TRUE(ed.paramdesc.wParamFlags & PARAMFLAG_FRETVAL);
        }
        vt->ReleaseFuncDesc(fd);
    }

    // Names by identifier: the member's name, then the parameter names of the first function with
    // that identifier (the getter of a property, which comes first in the table).
    std::map<int32_t, const Member*> first;
    for (const Member& m : table)
        first.emplace(m.dispid, &m);
    for (const auto& [dispid, m] : first) {
        SCOPED_TRACE(m->name);
        BSTR names[8] = {};
        UINT got = 0;
        ASSERT_HRESULT_SUCCEEDED(vt->GetNames(dispid, names, 8, &got));
        std::vector<std::string> seen;
        for (UINT k = 0; k < got; ++k) {
            seen.push_back(narrow(names[k]));
            SysFreeString(names[k]);
        }
        ASSERT_GE(seen.size(), 1 + m->params.size());
        EXPECT_EQ(seen[0], m->name);
        for (size_t p = 0; p < m->params.size(); ++p)
            EXPECT_EQ(seen[1 + p], m->params[p].name);
    }
}

// ---------------------------------------------------------------------------------------------
// Resources of the built file

namespace {

struct LoadedAsData {
    HMODULE module = LoadLibraryExW(dllPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ~LoadedAsData() {
        if (module)
            FreeLibrary(module);
    }
    std::string bytes(const wchar_t* type, WORD language) const {
        HRSRC found = FindResourceExW(module, type, MAKEINTRESOURCEW(1), language);
        if (!found)
            return {};
        HGLOBAL data = LoadResource(module, found);
        const auto* p = static_cast<const char*>(LockResource(data));
        return std::string(p, SizeofResource(module, found));
    }
};

std::string versionString(const std::vector<char>& block, const char* name) {
    void* value = nullptr;
    UINT length = 0;
    const std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueA(block.data(), path.c_str(), &value, &length))
        return "<missing>";
    return std::string(static_cast<const char*>(value));
}

} // namespace

TEST(Resources, TypeLibraryAndInterfaceIdentifier) {
    LoadedAsData dll;
    ASSERT_TRUE(dll.module);
    const std::string tlb = dll.bytes(L"TYPELIB", MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    ASSERT_GE(tlb.size(), 4u);
    EXPECT_EQ(tlb.substr(0, 4), "MSFT");

    const std::string iid = dll.bytes(L"_IID_ZeltoDLL", MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    ASSERT_EQ(iid.size(), 20u);
    const char length[4] = {16, 0, 0, 0};
    EXPECT_EQ(iid.substr(0, 4), std::string(length, 4));
    EXPECT_EQ(std::memcmp(iid.data() + 4, &IID__ZeltoDLL, 16), 0);
}

TEST(Resources, VersionBlock) {
    const std::string path = narrow(dllPath().c_str());
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 1200);

    const std::map<std::string, std::string> strings = {
        {"FileVersion", "1.00"},
        {"ProductVersion", "1.00"},
        {"FileDescription", "Zelto ActiveX DLL"},
        {"ProductName", "OstrelZeltoDLL"},
        {"InternalName", "OstrelZeltoDLL"},
        {"OriginalFilename", "OstrelZeltoDLL.dll"},
        {"CompanyName", "Ostrel"},
        {"OLESelfRegister", ""},
    };
    for (const auto& [name, value] : strings)
        EXPECT_EQ(versionString(block, name.c_str()), value) << name;
}

// ---------------------------------------------------------------------------------------------
// VARIANT <-> Variant

TEST(VariantTranslation, FromAutomationValues) {
    VARIANT inner = vI4(70000);
    VARIANT cy;
    VariantInit(&cy);
    V_VT(&cy) = VT_CY;
    V_CY(&cy).int64 = 25000; // 2.5
    VARIANT ui1;
    VariantInit(&ui1);
    V_VT(&ui1) = VT_UI1;
    V_UI1(&ui1) = 200;
    LONG refd = 42;
    VARIANT i4ref;
    VariantInit(&i4ref);
    V_VT(&i4ref) = VT_BYREF | VT_I4;
    V_I4REF(&i4ref) = &refd;
    VARIANT empty;
    VariantInit(&empty);
    VARIANT text = vStr(L"\u00e9t\u00e9 12");

    const struct {
        const char* what;
        VARIANT in;
        Variant out;
    } rows[] = {
        {"empty", empty, Variant()},
        {"null", vNull(), Variant::null()},
        {"true", vBool(true), Variant(true)},
        {"integer", vI2(-5), Variant(int16_t{-5})},
        {"long", vI4(-70000), Variant(int32_t{-70000})},
        {"double", vR8(2.5), Variant(2.5)},
        {"byte", ui1, Variant(int16_t{200})},
        {"currency", cy, Variant(2.5)},
        {"string (UTF-16 to UTF-8)", text, Variant("\xc3\xa9t\xc3\xa9 12")},
        {"variable (by reference)", vRef(&inner), Variant(int32_t{70000})},
        {"typed by reference", i4ref, Variant(int32_t{42})},
    };
    for (const auto& row : rows)
        EXPECT_EQ(com::fromVariant(row.in), row.out) << row.what;
    VariantClear(&text);
}

TEST(VariantTranslation, ValuesWithoutANumberAreTypeMismatch) {
    VARIANT dispatch;
    VariantInit(&dispatch);
    V_VT(&dispatch) = VT_DISPATCH;
    V_DISPATCH(&dispatch) = nullptr;
    VARIANT error;
    VariantInit(&error);
    V_VT(&error) = VT_ERROR;
    V_ERROR(&error) = DISP_E_PARAMNOTFOUND;
    for (const VARIANT& v : {dispatch, error}) {
        try {
            com::fromVariant(v);
            ADD_FAILURE() << "no error for type " << V_VT(&v);
        } catch (const AutomationError& e) {
            EXPECT_EQ(e.number(), err::TypeMismatch);
        }
    }
}

TEST(VariantTranslation, ToAutomationValuesRoundTrip) {
    const struct {
        Variant value;
        VARTYPE type;
    } rows[] = {
        {Variant(), VT_EMPTY},         {Variant::null(), VT_NULL},         {Variant(true), VT_BOOL},
        {Variant(int16_t{-3}), VT_I2}, {Variant(int32_t{1 << 20}), VT_I4}, {Variant(-0.125), VT_R8},
        {Variant(""), VT_BSTR},        {Variant("abc \xc3\xa9"), VT_BSTR}};
    for (const auto& row : rows) {
        VariantHolder out;
        com::toVariant(row.value, out.get());
        EXPECT_EQ(V_VT(out.get()), row.type) << row.type;
        EXPECT_EQ(com::fromVariant(*out.get()), row.value) << row.type;
    }
    VariantHolder t;
    com::toVariant(Variant(true), t.get());
    EXPECT_EQ(V_BOOL(t.get()), VARIANT_TRUE);
}

// ---------------------------------------------------------------------------------------------
// The object over the in-process simulated board

namespace {

namespace d = zelto::dispid;

class ObjectTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto serial = std::make_unique<sim::SimSerial>();
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
    sim::SimSerial* m_sim = nullptr;
    com::ZeltoObject* m_object = nullptr;
    ComPtr<IDispatch> m_disp;
};

struct FailureRow {
    const char* what;
    bool openFirst;
    std::function<HRESULT(com::ZeltoObject&, sim::SimSerial&)> vtableCall;
    DISPID id;
    WORD flags;
    std::function<std::vector<VARIANT>()> args;
    long number;
    const char* description;
};

const std::vector<FailureRow>& failureRows() {
    static const std::vector<FailureRow> rows = {
        {"high with the port closed", false,
         [](com::ZeltoObject& o, sim::SimSerial&) { return o.high(1); }, d::high, DISPATCH_METHOD,
         [] { return std::vector<VARIANT>{vI4(1)}; }, 68, "Device unavailable"},
        {"ready set", false,
         [](com::ZeltoObject& o, sim::SimSerial&) { return o.put_ready(VARIANT_TRUE); }, d::ready,
         DISPATCH_PROPERTYPUT, [] { return std::vector<VARIANT>{vBool(false)}; }, 387,
         "Set not permitted"},
        {"led read", true,
         [](com::ZeltoObject& o, sim::SimSerial&) {
             VariantHolder v;
             return o.get_led(v.get());
         },
         d::led, DISPATCH_PROPERTYGET, [] { return std::vector<VARIANT>{}; }, 393,
         "Get not supported at runtime"},
        {"counter set", true, [](com::ZeltoObject& o, sim::SimSerial&) { return o.put_counter(5); },
         d::counter, DISPATCH_PROPERTYPUT, [] { return std::vector<VARIANT>{vI4(5)}; }, 387,
         "Set not permitted"},
        {"pwm duty 256", true,
         [](com::ZeltoObject& o, sim::SimSerial&) { return o.pwm(0, 256, 1000); }, d::pwm,
         DISPATCH_METHOD,
         [] {
             return std::vector<VARIANT>{vI4(0), vI4(256), vI4(1000)};
         },
         5, "Invalid procedure call or argument"},
        {"tris Null sent", true,
         [](com::ZeltoObject& o, sim::SimSerial&) { return o.put_tris(vNull()); }, d::tris,
         DISPATCH_PROPERTYPUT, [] { return std::vector<VARIANT>{vNull()}; }, 94,
         "Invalid use of Null"},
        {"port held by another program", false,
         [](com::ZeltoObject& o, sim::SimSerial& s) {
             s.setOpenError(err::PortInUse);
             return o.put_portopen(VARIANT_TRUE);
         },
         d::portopen, DISPATCH_PROPERTYPUT, [] { return std::vector<VARIANT>{vBool(true)}; }, 8102,
         "Serial port already in use by another program"},
    };
    return rows;
}

} // namespace

TEST_F(ObjectTest, FailuresReachEarlyBoundCallersWithErrorInfo) {
    for (const FailureRow& row : failureRows()) {
        SCOPED_TRACE(row.what);
        TearDown();
        SetUp();
        if (row.openFirst)
            open();
        const HRESULT hr = row.vtableCall(*m_object, *m_sim);
        EXPECT_EQ(static_cast<uint32_t>(hr), 0x800A0000u + row.number);
        EXPECT_EQ(m_sim->written(), "") << "nothing reaches the port";

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
    }
}

TEST_F(ObjectTest, FailuresReachLateBoundCallersInScode) {
    for (const FailureRow& row : failureRows()) {
        SCOPED_TRACE(row.what);
        TearDown();
        SetUp();
        if (row.openFirst)
            open();
        if (row.number == 8102)
            m_sim->setOpenError(err::PortInUse);
        const InvokeResult r = call(row.id, row.flags, row.args());
        EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
        EXPECT_EQ(static_cast<uint32_t>(r.excep.scode), 0x800A0000u + row.number);
        EXPECT_EQ(r.excep.wCode, 0) << "scripting clients read scode, not wCode";
        EXPECT_EQ(r.number(), row.number);
        EXPECT_EQ(r.description(), row.description);
        EXPECT_EQ(narrow(r.excep.bstrSource), "OstrelZeltoDLL.ZeltoDLL");
        EXPECT_EQ(m_sim->written(), "");
    }
}

TEST_F(ObjectTest, TypedArgumentsAreCoercedByTheRuntime) {
    VARIANT seven = vI2(7);
    const struct {
        const char* what;
        VARIANT in;
        HRESULT hr;
        LONG pins;
    } rows[] = {
        {"2.5 rounds to even", vR8(2.5), S_OK, 2},
        {"3.5 rounds to even", vR8(3.5), S_OK, 4},
        {"numeric string", vStr(L"12"), S_OK, 12},
        {"True", vBool(true), S_OK, -1},
        {"variable", vRef(&seven), S_OK, 7},
        {"text", vStr(L"abc"), DISP_E_TYPEMISMATCH, 0},
        {"Null", vNull(), DISP_E_TYPEMISMATCH, 0},
        {"beyond Long", vR8(2147483648.0), DISP_E_OVERFLOW, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_HRESULT_SUCCEEDED(m_object->put_pins(0));
        const InvokeResult r = call(d::pins, DISPATCH_PROPERTYPUT, {row.in});
        EXPECT_EQ(r.hr, row.hr);
        LONG pins = -99;
        ASSERT_HRESULT_SUCCEEDED(m_object->get_pins(&pins));
        EXPECT_EQ(pins, row.pins);
    }
    EXPECT_EQ(V_I2(&seven), 7);
    EXPECT_EQ(m_sim->written(), "") << "the port is closed: pins works on its cache";
}

TEST_F(ObjectTest, A2dconfTakesVariablesAndLiteralsAndLeavesVariablesAlone) {
    open();
    // Script variables holding a Long 0, a Long 1 and a numeric string.
    VARIANT justify = vI4(0), clkx2 = vI4(1), cselect = vStr(L"5");
    InvokeResult r =
        call(d::a2dconf, DISPATCH_METHOD, {vRef(&justify), vRef(&clkx2), vRef(&cselect)});
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(m_sim->written(), "\x31\xA5");
    EXPECT_EQ(V_VT(&justify), VT_I4);
    EXPECT_EQ(V_I4(&justify), 0);
    EXPECT_EQ(V_VT(&clkx2), VT_I4);
    EXPECT_EQ(V_I4(&clkx2), 1) << "not turned into True";
    EXPECT_EQ(V_VT(&cselect), VT_BSTR);
    EXPECT_EQ(narrow(V_BSTR(&cselect)), "5");

    m_sim->clearWrites();
    r = call(d::a2dconf, DISPATCH_METHOD, {vBool(true), vBool(true), vI2(3)});
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(m_sim->written(), "\x31\xE3");

    // Early-bound style: typed pointers.
    m_sim->clearWrites();
    VARIANT_BOOL f = VARIANT_FALSE;
    SHORT sel = 127;
    VARIANT a, b, c;
    V_VT(&a) = VT_BYREF | VT_BOOL;
    V_BOOLREF(&a) = &f;
    V_VT(&b) = VT_BYREF | VT_BOOL;
    V_BOOLREF(&b) = &f;
    V_VT(&c) = VT_BYREF | VT_I2;
    V_I2REF(&c) = &sel;
    r = call(d::a2dconf, DISPATCH_METHOD, {a, b, c});
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(m_sim->written(), "\x31\xFF");

    // A value that is no Boolean: the argument is named, nothing is sent.
    m_sim->clearWrites();
    VARIANT text = vStr(L"abc");
    r = call(d::a2dconf, DISPATCH_METHOD, {vRef(&text), vBool(false), vI2(0)});
    EXPECT_EQ(r.hr, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(r.argErr, 2u) << "rgvarg index of the first argument";
    // cselect beyond 127: the board object's overflow.
    VARIANT big = vI4(128);
    r = call(d::a2dconf, DISPATCH_METHOD, {vBool(false), vBool(false), vRef(&big)});
    EXPECT_EQ(r.number(), 6);
    EXPECT_EQ(m_sim->written(), "");
    VariantClear(&cselect);
    VariantClear(&text);
}

TEST_F(ObjectTest, VariantParametersReadThroughVariables) {
    VARIANT fifteen = vStr(L"15");
    InvokeResult r = call(d::tris, DISPATCH_PROPERTYPUT, {vRef(&fifteen)});
    ASSERT_EQ(r.hr, S_OK);
    r = call(d::tris, DISPATCH_PROPERTYGET);
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
    EXPECT_EQ(call(noMember, DISPATCH_METHOD).hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(call(d::high, DISPATCH_METHOD).hr, DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(m_object->get_CommPort(nullptr), E_POINTER);
    const InvokeResult port = call(d::CommPort, DISPATCH_PROPERTYGET);
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
    g_timerResult = invoke(g_timerTarget, d::high, DISPATCH_METHOD, {vI4(3)}).hr;
}
} // namespace

TEST_F(ObjectTest, TimerDuringTheLinkWaitSendsFirst) {
    open();
    m_sim->setCts(false);
    g_timerTarget = m_disp.get();
    g_timerSim = m_sim;
    g_timerFired = 0;
    ASSERT_NE(SetTimer(nullptr, 0, 30, onTimer), 0u);
    const InvokeResult r = call(d::resetall, DISPATCH_METHOD);
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(g_timerFired, 1);
    EXPECT_EQ(g_timerResult, S_OK);
    EXPECT_EQ(m_sim->writes(), (std::vector<Bytes>{"\x17", "\x5C"}));
}

// ---------------------------------------------------------------------------------------------
// DllCanUnloadNow and the class factory of the built DLL

TEST(Unloading, ObjectsLocksAndFactoryKeepTheDllLoaded) {
    HMODULE dll = LoadLibraryW(dllPath().c_str());
    ASSERT_TRUE(dll);
    using CanUnload = HRESULT(STDAPICALLTYPE*)();
    using GetClass = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto canUnload = exported<CanUnload>(dll, "DllCanUnloadNow");
    auto getClass = exported<GetClass>(dll, "DllGetClassObject");
    ASSERT_TRUE(canUnload && getClass);

    EXPECT_EQ(canUnload(), S_OK);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(getClass(CLSID_ZeltoDLL, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
              S_OK);
    EXPECT_EQ(canUnload(), S_FALSE) << "a factory reference";
    IDispatch* object = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object)),
              S_OK);
    IUnknown* outer = object;
    void* aggregated = nullptr;
    EXPECT_EQ(factory->CreateInstance(outer, IID_IUnknown, &aggregated), CLASS_E_NOAGGREGATION);
    factory->Release();
    EXPECT_EQ(canUnload(), S_FALSE) << "a live object";
    object->Release();
    EXPECT_EQ(canUnload(), S_OK);

    ASSERT_EQ(getClass(CLSID_ZeltoDLL, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
              S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory->Release();
    EXPECT_EQ(canUnload(), S_FALSE) << "a lock";
    ASSERT_EQ(getClass(CLSID_ZeltoDLL, IID_IUnknown, reinterpret_cast<void**>(&factory)), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory->Release();
    EXPECT_EQ(canUnload(), S_OK);

    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(getClass(IID__ZeltoDLL, IID_IClassFactory, &none), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(none, nullptr);
    FreeLibrary(dll);
}
