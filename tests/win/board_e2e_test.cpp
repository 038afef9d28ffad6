// The registered server over Wine's serial stack to the board simulator on a pseudo-terminal
// (COM1). Run by e2e.sh, which starts the simulator and tells this program through the environment:
//   ZELTO_SIM_LOG     the simulator's output (one decoded command per line)
//   ZELTO_CTS_FILE    the file that holds the clear-to-send line ("1" or "0")
//   ZELTO_MODEM_LINES "1" when the pseudo-terminal's modem lines are emulated for this process

#include "member_table.h"
#include "win_test_util.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace zelto::wintest;
using zelto::com::ComPtr;

namespace {

namespace d = zelto::dispid;
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new ComApartment);

std::string simLog() {
    return readFile("ZELTO_SIM_LOG");
}

// Waits briefly for the simulator to log what it decoded (at or after offset from).
std::string simLogContaining(const std::string& text, size_t from = 0) {
    for (int i = 0; i < 100; ++i) {
        std::string log = simLog();
        if (log.find(text, from) != std::string::npos)
            return log;
        Sleep(10);
    }
    return simLog();
}

void setCts(bool asserted) {
    const std::string file = onDriveZ(env("ZELTO_CTS_FILE"));
    const std::string tmp = file + ".win";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << (asserted ? '1' : '0');
    }
    ASSERT_TRUE(MoveFileExA(tmp.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING));
}

IDispatch* g_target = nullptr;
HRESULT g_timerHr = E_FAIL;

void CALLBACK raiseAndCallIn(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    setCts(true);
    g_timerHr = invoke(g_target, d::high, M, {vI4(5)}).hr;
}

class Board : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!env("ZELTO_CTS_FILE").empty())
            setCts(true);
        ASSERT_HRESULT_SUCCEEDED(createRegistered(m_board.put()));
        ASSERT_EQ(call(d::portopen, P, {vBool(true)}).hr, S_OK) << "portopen = True on COM1";
    }
    void TearDown() override {
        if (!env("ZELTO_CTS_FILE").empty())
            setCts(true);
        if (m_board)
            call(d::portopen, P, {vBool(false)});
    }
    InvokeResult call(DISPID id, WORD flags, std::vector<VARIANT> args = {}) {
        return invoke(m_board.get(), id, flags, std::move(args));
    }

    ComPtr<IDispatch> m_board;
};

} // namespace

TEST_F(Board, OpeningRunsTheHandshakeAndSendsTheCachedValues) {
    const std::string log = simLogContaining("tris set");
    const size_t sync = log.rfind("00          sync");
    ASSERT_NE(sync, std::string::npos) << log;
    const size_t okAt = log.find("01          ok -> 33", sync);
    const size_t pins = log.find("04 80       pins set 0", sync);
    const size_t tris = log.find("02 80       tris set 0", sync);
    EXPECT_LT(sync, okAt);
    EXPECT_LT(okAt, pins);
    EXPECT_LT(pins, tris) << log;
    EXPECT_NE(tris, std::string::npos) << log;
}

TEST_F(Board, EveryMemberByDispid) {
    struct Step {
        const char* what;
        DISPID id;
        WORD flags;
        std::vector<VARIANT> args;
        VARTYPE type;
        LONG value;
        const char* logged; // what the simulator decoded, or null
    };
    const std::vector<Step> steps = {
        {"CommPort", d::CommPort, G, {}, VT_I2, 1, nullptr},
        {"tris = 15", d::tris, P, {vI4(15)}, VT_EMPTY, 0, "03 87       tris set 15"},
        {"tris reads the board", d::tris, G, {}, VT_I2, 15, "56          tris get -> 0F"},
        {"pins = 165", d::pins, P, {vI4(165)}, VT_EMPTY, 0, "05 D2       pins set 165"},
        // tris 15 made pins 0-3 inputs, which read low: 165 reads back as 160.
        {"pins reads the board", d::pins, G, {}, VT_I4, 160, "57          pins get -> A0"},
        {"eeprom(5) = 77", d::eeprom, P, {vI4(5), vI4(77)}, VT_EMPTY, 0, "eeprom write 77 at 5"},
        {"eeprom(5)", d::eeprom, G, {vI4(5)}, VT_I4, 77, "eeprom read at 5 -> 4D"},
        {"ok", d::ok, M, {}, VT_BOOL, VARIANT_TRUE, nullptr},
        {"led = True", d::led, P, {vBool(true)}, VT_EMPTY, 0, "0D          led on"},
        {"a2d(0)", d::a2d, M, {vI4(0)}, VT_I4, 700, "30          a2d pin 0 -> 02 BC"},
        {"high 3", d::high, M, {vI4(3)}, VT_EMPTY, 0, "17          high pin 3"},
        {"toggle 3", d::toggle, M, {vI4(3)}, VT_EMPTY, 0, "26          toggle pin 3"},
        {"low 3", d::low, M, {vI4(3)}, VT_EMPTY, 0, "16          low pin 3"},
        {"inp 3", d::inp, M, {vI4(3)}, VT_I4, 0, "27          inp pin 3 -> 30"},
        {"count", d::count, M, {vI4(1), vI4(10)}, VT_I4, 0, "42          count pin 1 for 10"},
        {"pulseout",
         d::pulseout,
         M,
         {vI4(2), vI4(100)},
         VT_EMPTY,
         0,
         "45          pulseout pin 2 period 100"},
        {"pulsein", d::pulsein, M, {vI4(2), vI4(1)}, VT_I4, 0, "75          pulsein pin 2 state 1"},
        {"pwm",
         d::pwm,
         M,
         {vI4(3), vI4(200), vI4(1000)},
         VT_EMPTY,
         0,
         "pwm pin 3 duty 200 fduration 1000"},
        {"freq",
         d::freq,
         M,
         {vI4(1), vI4(1000), vI4(250)},
         VT_EMPTY,
         0,
         "0E 82 83 F4 tone pin 1 value 1000 duration 250"},
        {"rctime", d::rctime, M, {vI4(4), vI4(1)}, VT_I4, 0, "0E A9       rctime pin 4 state 1"},
        {"portopen", d::portopen, G, {}, VT_BOOL, VARIANT_TRUE, nullptr},
        {"counter", d::counter, G, {}, VT_I4, 0, "5A          counter get"},
        {"setcounter",
         d::setcounter,
         M,
         {vI2(2), vBool(true)},
         VT_EMPTY,
         0,
         "0E 93       counter setup prescale 2 mode 1"},
        {"ready", d::ready, G, {}, VT_BOOL, VARIANT_TRUE, nullptr},
        {"errflag", d::errflag, G, {}, VT_BOOL, VARIANT_FALSE, nullptr},
        {"a2dconf",
         d::a2dconf,
         M,
         {vBool(false), vBool(true), vI2(5)},
         VT_EMPTY,
         0,
         "31 A5       a2d config"},
        {"repeat", d::repeat, M, {vI4(3)}, VT_EMPTY, 0, "5B          repeat operand 2"},
        {"resetall", d::resetall, M, {}, VT_EMPTY, 0, "5C          reset all"},
        {"readbyte on a quiet line", d::readbyte, M, {}, VT_I4, 0, nullptr},
        {"errflag after it", d::errflag, G, {}, VT_BOOL, VARIANT_TRUE, nullptr},
        {"readword on a quiet line", d::readword, M, {}, VT_I4, 0, nullptr},
        {"errflag = False", d::errflag, P, {vBool(false)}, VT_EMPTY, 0, nullptr},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        const size_t mark = simLog().size();
        const InvokeResult r = call(step.id, step.flags, step.args);
        ASSERT_EQ(r.hr, S_OK) << r.number() << " " << r.description();
        EXPECT_EQ(V_VT(r.value.get()), step.type);
        if (step.type != VT_EMPTY) {
            EXPECT_EQ(asLong(*r.value.get()), step.value);
        }
        if (step.logged) {
            const std::string log = simLogContaining(step.logged, mark);
            EXPECT_NE(log.find(step.logged, mark), std::string::npos)
                << log.substr(log.size() > 400 ? log.size() - 400 : 0);
        }
    }
}

TEST_F(Board, TheOpenPortRefusesOpeningAndChange) {
    const InvokeResult twice = call(d::portopen, P, {vBool(true)});
    EXPECT_EQ(twice.number(), 8108) << "the port is already open";
    EXPECT_EQ(call(d::CommPort, P, {vI2(2)}).number(), 8108) << "no port change while open";
}

TEST_F(Board, ClearToSendLowHoldsCommandsBack) {
    if (!linesEmulated()) {
        // A pseudo-terminal has no modem lines: the line counts as asserted.
        const InvokeResult r = call(d::ready, G);
        EXPECT_EQ(V_BOOL(r.value.get()), VARIANT_TRUE);
        GTEST_SKIP() << "modem lines are emulated only for 64-bit Wine processes";
    }
    setCts(false);
    EXPECT_EQ(V_BOOL(call(d::ready, G).value.get()), VARIANT_FALSE) << "ready";

    // A timer raises the line and calls in while resetall waits; its command leaves first.
    g_target = m_board.get();
    g_timerHr = E_FAIL;
    const UINT_PTR timer = SetTimer(nullptr, 0, 150, raiseAndCallIn);
    ASSERT_NE(timer, 0u);
    const size_t mark = simLog().size();
    FILETIME c0, e0, k0, u0, c1, e1, k1, u1;
    GetProcessTimes(GetCurrentProcess(), &c0, &e0, &k0, &u0);
    const auto start = std::chrono::steady_clock::now();
    const InvokeResult r = call(d::resetall, M);
    const double waited =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    GetProcessTimes(GetCurrentProcess(), &c1, &e1, &k1, &u1);
    auto ticks = [](FILETIME f) {
        return (static_cast<unsigned long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
    };
    const double cpuMs = static_cast<double>(ticks(k1) - ticks(k0) + ticks(u1) - ticks(u0)) / 1e4;

    EXPECT_EQ(r.hr, S_OK) << r.description();
    EXPECT_EQ(g_timerHr, S_OK);
    EXPECT_GE(waited, 140.0);
    EXPECT_LT(waited, 1000.0);
    EXPECT_LT(cpuMs, waited * 0.5) << "the wait sleeps: " << cpuMs << " ms CPU in " << waited;
    // The simulator logs a command a moment after the member has handed it over.
    const std::string log = simLogContaining("5C          reset all", mark);
    const size_t high = log.rfind("high pin 5");
    const size_t reset = log.rfind("5C          reset all");
    ASSERT_NE(reset, std::string::npos) << log;
    ASSERT_GE(reset, mark) << log;
    ASSERT_NE(high, std::string::npos) << log;
    EXPECT_LT(high, reset) << "the timer's command left first";
}

TEST_F(Board, ClearToSendHeldLowEndsInTheLinkTimeout) {
    if (!linesEmulated())
        GTEST_SKIP() << "needs emulated modem lines";
    setCts(false);
    const auto start = std::chrono::steady_clock::now();
    const InvokeResult r = call(d::high, M, {vI4(6)});
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.number(), 8120);
    EXPECT_EQ(r.description(), "Timed out waiting for the board to be ready");
    EXPECT_GE(waited, std::chrono::milliseconds(4900));
    EXPECT_EQ(simLog().find("high pin 6"), std::string::npos) << "nothing was sent";

    // The line is still low: closing ends the wait for it that is still pending in the system.
    const auto closing = std::chrono::steady_clock::now();
    EXPECT_EQ(call(d::portopen, P, {vBool(false)}).hr, S_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::milliseconds(1000));
    EXPECT_EQ(V_BOOL(call(d::portopen, G).value.get()), VARIANT_FALSE);
}

TEST_F(Board, ClosingAndOpeningAgainRepeatsTheHandshake) {
    const std::string pins = "05 D2       pins set 165";
    const size_t before = simLog().size();
    ASSERT_EQ(call(d::pins, P, {vI4(165)}).hr, S_OK);
    const size_t setAt = simLogContaining(pins, before).find(pins, before);
    ASSERT_NE(setAt, std::string::npos);
    ASSERT_EQ(call(d::portopen, P, {vBool(false)}).hr, S_OK);
    EXPECT_EQ(call(d::high, M, {vI4(1)}).number(), 68);
    ASSERT_EQ(call(d::portopen, P, {vBool(true)}).hr, S_OK);
    // The opening sends the cached value again, after its sync.
    const std::string log = simLogContaining(pins, setAt + 1);
    const size_t sync = log.find("00          sync", setAt);
    ASSERT_NE(sync, std::string::npos) << log;
    EXPECT_NE(log.find(pins, sync), std::string::npos) << log;
}
