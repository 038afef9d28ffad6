// On stock Windows a 1 ms sleep lasts a whole timer tick (about 15.6 ms) unless the timer
// resolution is raised; Wine's sleeps last 1 ms whatever it is, so timing cannot show it here.
// Instead the calls the Windows component and pump wait with are swapped for counting ones: every
// sleep in a wait must fall inside a raised resolution, each raise is released, and a pause of the
// pump waits for messages rather than sleeping. Runs with the simulator on COM1 (faults.sh).

#include "win32_message_pump.h"
#include "win32_serial.h"
#include "win32_wait_calls.h"
#include "win_test_util.h"
#include "zeltodll.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

using namespace zelto::wintest;

namespace {

struct Counts {
    int raised = 0; // raises not yet released
    int raises = 0;
    int releases = 0;
    int sleeps = 0;
    int uncovered = 0; // sleeps of a millisecond or more outside a raise
    int messageWaits = 0;
    int wrongMessageWaits = 0; // not woken by every kind of input, or blind to input already seen
    std::function<void(int sleeps)> onSleep;
};
Counts g_counts;

UINT WINAPI countBegin(UINT ms) {
    ++g_counts.raises;
    g_counts.raised += ms == 1;
    return 0;
}
UINT WINAPI countEnd(UINT ms) {
    ++g_counts.releases;
    g_counts.raised -= ms == 1;
    return 0;
}
void WINAPI countSleep(DWORD ms) {
    ++g_counts.sleeps;
    g_counts.uncovered += ms > 0 && g_counts.raised <= 0;
    if (g_counts.onSleep)
        g_counts.onSleep(g_counts.sleeps);
    Sleep(ms);
}
DWORD WINAPI countMessageWait(DWORD n, const HANDLE* handles, DWORD ms, DWORD wake, DWORD flags) {
    ++g_counts.messageWaits;
    g_counts.wrongMessageWaits +=
        (wake & QS_ALLINPUT) != QS_ALLINPUT || (flags & MWMO_INPUTAVAILABLE) == 0;
    return MsgWaitForMultipleObjectsEx(n, handles, ms, wake, flags);
}

void setCts(bool asserted) {
    const std::string file = onDriveZ(env("ZELTO_CTS_FILE"));
    {
        std::ofstream out(file + ".w", std::ios::binary | std::ios::trunc);
        out << (asserted ? '1' : '0');
    }
    MoveFileExA((file + ".w").c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING);
}

class WaitCalls : public ::testing::Test {
  protected:
    void SetUp() override {
        m_saved = zelto::win32WaitCalls();
        zelto::win32WaitCalls() = {countBegin, countEnd, countSleep, countMessageWait};
        g_counts = {};
    }
    void TearDown() override {
        zelto::win32WaitCalls() = m_saved;
        if (linesEmulated())
            setCts(true);
    }
    zelto::Win32WaitCalls m_saved{};
};

} // namespace

TEST_F(WaitCalls, EverySleepOfAWaitIsCoveredByOneRaise) {
    if (!linesEmulated())
        GTEST_SKIP() << "needs emulated modem lines";
    zelto::Win32MessagePump pump;
    // The line rises after the 20th sleep; a wait that raised per pass would count 20 raises.
    const auto linkWait = [](zelto::MessagePump* pump) {
        zelto::ZeltoDLL board(zelto::makeSystemSerialComponent(), pump);
        board.portopen(true);
        setCts(false);
        board.high(1);
    };
    const struct {
        const char* what;
        std::function<void()> wait;
    } rows[] = {
        {"link wait without a pump", [&] { linkWait(nullptr); }},
        {"link wait with the message pump", [&] { linkWait(&pump); }},
        {"a line wait of the component alone",
         [] {
             zelto::Win32Serial port;
             port.setPortOpen(true);
             setCts(false);
             EXPECT_FALSE(port.ctsHolding()) << "a look without a wait";
             EXPECT_TRUE(port.ctsHolding(zelto::Millis{2000}));
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        setCts(true);
        g_counts = {};
        g_counts.onSleep = [](int sleeps) {
            if (sleeps == 20)
                setCts(true);
        };
        row.wait();
        EXPECT_GE(g_counts.sleeps, 20);
        EXPECT_EQ(g_counts.uncovered, 0);
        EXPECT_EQ(g_counts.raises, 1);
        EXPECT_EQ(g_counts.releases, 1);
        EXPECT_EQ(g_counts.raised, 0);
    }
}

TEST_F(WaitCalls, APauseOfThePumpEndsOnAMessage) {
    zelto::Win32MessagePump pump;
    ASSERT_TRUE(PostThreadMessageW(GetCurrentThreadId(), WM_APP, 0, 0));
    const auto start = std::chrono::steady_clock::now();
    pump.idle(zelto::Millis{2000});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    pump.pumpOnce();
    EXPECT_EQ(g_counts.messageWaits, 1);
    EXPECT_EQ(g_counts.wrongMessageWaits, 0);
    EXPECT_EQ(g_counts.sleeps, 0);
}
