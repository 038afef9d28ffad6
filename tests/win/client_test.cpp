// A late-bound client of the registered server: created by programmatic identifier, every member
// called by DISPID with the port closed, results and failures as a client sees them.

#include "OstrelZeltoDLL_h.h"
#include "win_test_util.h"

#include <gtest/gtest.h>

using namespace zelto::wintest;
using zelto::com::ComPtr;

namespace {

class ComApartment : public ::testing::Environment {
  public:
    void SetUp() override { ASSERT_HRESULT_SUCCEEDED(CoInitialize(nullptr)); }
    void TearDown() override { CoUninitialize(); }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new ComApartment);

ComPtr<IDispatch> create() {
    CLSID clsid{};
    EXPECT_HRESULT_SUCCEEDED(CLSIDFromProgID(L"OstrelZeltoDLL.ZeltoDLL", &clsid));
    EXPECT_EQ(clsid, CLSID_ZeltoDLL);
    ComPtr<IDispatch> object;
    EXPECT_HRESULT_SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                              reinterpret_cast<void**>(object.put())));
    return object;
}

constexpr WORD M = DISPATCH_METHOD, G = DISPATCH_PROPERTYGET, P = DISPATCH_PROPERTYPUT;

struct Step {
    const char* what;
    DISPID id;
    WORD flags;
    std::vector<VARIANT> args;
    // Either the error number a client sees, or the result (VT_EMPTY for none).
    long error;
    VARTYPE type = VT_EMPTY;
    LONG value = 0;
};

Step ok(const char* what, DISPID id, WORD flags, std::vector<VARIANT> args, VARTYPE type = VT_EMPTY,
        LONG value = 0) {
    return {what, id, flags, std::move(args), 0, type, value};
}
Step fails(const char* what, DISPID id, WORD flags, std::vector<VARIANT> args, long error) {
    return {what, id, flags, std::move(args), error};
}

LONG asLong(const VARIANT& v) {
    switch (V_VT(&v)) {
    case VT_I2:
        return V_I2(&v);
    case VT_I4:
        return V_I4(&v);
    case VT_BOOL:
        return V_BOOL(&v);
    default:
        return 0;
    }
}

} // namespace

TEST(LateBoundClient, EveryMemberWithThePortClosed) {
    auto object = create();
    ASSERT_TRUE(object);
    // The port is closed: the members that need the board fail with 68 before writing; tris and
    // pins work on their cached values; reads go to the component and fail softly.
    const std::vector<Step> steps = {
        ok("CommPort default", 0x68030008, G, {}, VT_I2, 1),
        ok("CommPort = 3", 0x68030008, P, {vI2(3)}),
        ok("CommPort reads 3", 0x68030008, G, {}, VT_I2, 3),
        fails("CommPort = 0", 0x68030008, P, {vI2(0)}, 8107),
        ok("tris is Empty", 0x68030007, G, {}, VT_EMPTY),
        ok("tris = 15", 0x68030007, P, {vI4(15)}),
        ok("tris reads 15 as given", 0x68030007, G, {}, VT_I4, 15),
        ok("pins is 0", 0x68030006, G, {}, VT_I4, 0),
        ok("pins = 165", 0x68030006, P, {vI4(165)}),
        ok("pins reads 165", 0x68030006, G, {}, VT_I4, 165),
        fails("eeprom(5) hands its operand to the closed port", 0x68030005, G, {vI4(5)}, 8104),
        fails("eeprom(5) = 7", 0x68030005, P, {vI4(5), vI4(7)}, 68),
        fails("ok", 0x60030012, M, {}, 68),
        fails("led read", 0x68030004, G, {}, 393),
        fails("led = True", 0x68030004, P, {vBool(true)}, 68),
        fails("a2d", 0x60030013, M, {vI4(0)}, 68),
        fails("toggle", 0x60030014, M, {vI4(1)}, 68),
        fails("high", 0x60030015, M, {vI4(1)}, 68),
        fails("low", 0x60030016, M, {vI4(1)}, 68),
        fails("inp", 0x60030017, M, {vI4(1)}, 68),
        fails("count", 0x60030018, M, {vI4(1), vI4(10)}, 68),
        fails("pulseout", 0x60030019, M, {vI4(1), vI4(10)}, 68),
        fails("pulsein", 0x6003001A, M, {vI4(1), vI4(1)}, 68),
        fails("pwm", 0x6003001B, M, {vI4(1), vI4(2), vI4(3)}, 68),
        fails("freq", 0x6003001C, M, {vI4(1), vI4(2), vI4(3)}, 68),
        fails("rctime", 0x6003001D, M, {vI4(1), vI4(1)}, 68),
        ok("portopen is False", 0x68030003, G, {}, VT_BOOL, VARIANT_FALSE),
        fails("counter read", 0x68030002, G, {}, 68),
        fails("counter set", 0x68030002, P, {vI4(1)}, 387),
        fails("setcounter", 0x6003001E, M, {vI2(1), vBool(true)}, 68),
        fails("ready asks the closed port for clear-to-send", 0x68030001, G, {}, 8104),
        fails("ready = True", 0x68030001, P, {vBool(true)}, 387),
        fails("ready = False", 0x68030001, P, {vBool(false)}, 387),
        ok("errflag is False", 0x68030000, G, {}, VT_BOOL, VARIANT_FALSE),
        ok("errflag = True", 0x68030000, P, {vBool(true)}),
        ok("errflag reads True", 0x68030000, G, {}, VT_BOOL, VARIANT_TRUE),
        fails("resetall", 0x6003001F, M, {}, 68),
        fails("repeat", 0x60030020, M, {vI4(2)}, 68),
        ok("readbyte fails softly", 0x60030021, M, {}, VT_I4, 0),
        ok("errflag tells", 0x68030000, G, {}, VT_BOOL, VARIANT_TRUE),
        ok("readword fails softly", 0x60030022, M, {}, VT_I4, 0),
        fails("a2dconf", 0x60030023, M, {vBool(true), vBool(false), vI2(0)}, 68),
        ok("CommPort = 200", 0x68030008, P, {vI2(200)}),
        fails("portopen on a port that does not exist", 0x68030003, P, {vBool(true)}, 8101),
        ok("portopen stays False", 0x68030003, G, {}, VT_BOOL, VARIANT_FALSE),
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        const InvokeResult r = invoke(object.get(), step.id, step.flags, step.args);
        if (step.error) {
            EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
            EXPECT_EQ(r.number(), step.error);
            EXPECT_FALSE(r.description().empty());
            EXPECT_NE(r.description(), "Application-defined or object-defined error");
        } else {
            ASSERT_EQ(r.hr, S_OK) << r.description();
            EXPECT_EQ(V_VT(r.value.get()), step.type);
            EXPECT_EQ(asLong(*r.value.get()), step.value);
        }
    }
}

TEST(LateBoundClient, StandardDescriptions) {
    auto object = create();
    const struct {
        DISPID id;
        WORD flags;
        std::vector<VARIANT> args;
        long number;
        const char* description;
    } rows[] = {
        {0x60030015, M, {vI4(1)}, 68, "Device unavailable"},
        {0x68030001, P, {vBool(true)}, 387, "Set not permitted"},
        {0x68030004, G, {}, 393, "Get not supported at runtime"},
    };
    for (const auto& row : rows) {
        const InvokeResult r = invoke(object.get(), row.id, row.flags, row.args);
        EXPECT_EQ(static_cast<uint32_t>(r.excep.scode), 0x800A0000u + row.number);
        EXPECT_EQ(r.description(), row.description);
    }
}

TEST(EarlyBoundClient, TheDualInterfaceAnswersThroughItsTable) {
    auto object = create();
    ComPtr<_ZeltoDLL> board;
    ASSERT_HRESULT_SUCCEEDED(
        object->QueryInterface(IID__ZeltoDLL, reinterpret_cast<void**>(board.put())));
    ASSERT_HRESULT_SUCCEEDED(board->put_CommPort(7));
    SHORT port = 0;
    ASSERT_HRESULT_SUCCEEDED(board->get_CommPort(&port));
    EXPECT_EQ(port, 7);
    EXPECT_EQ(static_cast<uint32_t>(board->high(1)), 0x800A0044u);
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
    zelto::com::Bstr text;
    info->GetDescription(text.put());
    EXPECT_EQ(narrow(text.get()), "Device unavailable");
}
