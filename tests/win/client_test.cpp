// A late-bound client of the registered server: created by programmatic identifier, members
// called by DISPID with the port closed, results and failures as a client sees them.

#include "OstrelZeltoDLL_h.h"
#include "member_table.h"
#include "win_test_util.h"

#include <gtest/gtest.h>

using namespace zelto::wintest;
using zelto::com::ComPtr;

namespace {

const auto* const g_env = ::testing::AddGlobalTestEnvironment(new ComApartment);

namespace d = zelto::dispid;

ComPtr<IDispatch> create() {
    ComPtr<IDispatch> object;
    CLSID clsid{};
    EXPECT_HRESULT_SUCCEEDED(createRegistered(object.put(), &clsid));
    EXPECT_EQ(clsid, CLSID_ZeltoDLL);
    return object;
}

struct Step {
    const char* what;
    DISPID id;
    WORD flags;
    std::vector<VARIANT> args;
    VARTYPE type = VT_EMPTY; // of the result; VT_EMPTY for none
    LONG value = 0;
    long error = 0; // the number a client sees
};

} // namespace

TEST(LateBoundClient, OneMemberOfEachOutcomeWithThePortClosed) {
    auto object = create();
    ASSERT_TRUE(object);
    // The port is closed. What the script host sees of the cache and of a closed port is
    // closed_port.vbs's; here the component's own numbers and errflag, as a C++ client sees them.
    const std::vector<Step> steps = {
        {"CommPort = 3", d::CommPort, P, {v(int16_t{3})}},
        {"CommPort reads 3", d::CommPort, G, {}, VT_I2, 3},
        {"CommPort = 0", d::CommPort, P, {v(int16_t{0})}, VT_EMPTY, 0, 8107},
        {"eeprom(5) hands its operand to the closed port", d::eeprom, G, {v(5)}, VT_EMPTY, 0, 8104},
        {"ready asks the closed port for clear-to-send", d::ready, G, {}, VT_EMPTY, 0, 8104},
        {"errflag is False", d::errflag, G, {}, VT_BOOL, VARIANT_FALSE},
        {"readbyte fails softly", d::readbyte, M, {}, VT_I4, 0},
        {"errflag tells", d::errflag, G, {}, VT_BOOL, VARIANT_TRUE},
        {"CommPort = 200", d::CommPort, P, {v(int16_t{200})}},
        {"portopen on a port that does not exist", d::portopen, P, {v(true)}, VT_EMPTY, 0, 8101},
        {"portopen stays False", d::portopen, G, {}, VT_BOOL, VARIANT_FALSE},
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
            if (step.type != VT_EMPTY) {
                EXPECT_EQ(zelto::com::fromVariant(*r.value.get()).toLong(), step.value);
            }
        }
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
