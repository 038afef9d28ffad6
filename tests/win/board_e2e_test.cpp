// The registered server over Wine's serial stack to the board simulator on a pseudo-terminal
// (COM1). Run by faults.sh, which serves the simulator and passes its log and control files
// through the environment; ZELTO_MODEM_LINES is "1" when the modem lines are emulated for this
// process.

#include "member_table.h"
#include "win_test_util.h"
#include "wire_table.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace zelto::wintest;
using zelto::Variant;
using zelto::com::ComPtr;
using zelto::test::LoggedCommand;
using zelto::test::WireRow;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

namespace d = zelto::dispid;
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new ComApartment);

std::vector<std::string> bytesOf(const std::vector<LoggedCommand>& logged) {
    std::vector<std::string> out;
    for (const LoggedCommand& c : logged)
        out.push_back(c.bytes);
    return out;
}

const std::vector<std::string> FreshOpening = {"00", "01", "04 80", "02 80"};

class Board : public ::testing::Test {
  protected:
    void SetUp() override {
        control("cts high");
        ASSERT_HRESULT_SUCCEEDED(createRegistered(m_board.put()));
        const size_t mark = logMark();
        ASSERT_EQ(call(d::portopen, P, {v(true)}).hr, S_OK) << "portopen = True on COM1";
        m_opening = bytesOf(loggedSince(mark, 4));
    }
    void TearDown() override {
        control("cts high");
        call(d::portopen, P, {v(false)});
    }
    InvokeResult call(DISPID id, WORD flags, std::vector<VARIANT> args = {}) {
        return invoke(m_board.get(), id, flags, std::move(args));
    }

    ComPtr<IDispatch> m_board;
    std::vector<std::string> m_opening;
};

// The number a scripting client sees: the runtime's coercion failures become 6 and 13.
long scriptNumber(const InvokeResult& r) {
    if (SUCCEEDED(r.hr))
        return 0;
    return r.hr == DISP_E_OVERFLOW ? 6 : r.hr == DISP_E_TYPEMISMATCH ? 13 : r.number();
}

WORD flagsOf(zelto::MemberKind kind) {
    return kind == zelto::MemberKind::Method ? M : kind == zelto::MemberKind::PropertyGet ? G : P;
}

} // namespace

// The wire table by dispatch identifier, in order, one new object per row; the simulator logs
// whole commands, so the byte streams are compared, and the replies it logged.
TEST(Wire, EveryModelledRowByDispid) {
    for (const std::string& line : zelto::test::standardBoard())
        control(line);
    for (const WireRow& r : zelto::test::modelledRows()) {
        SCOPED_TRACE(::testing::PrintToString(r));
        ComPtr<IDispatch> board;
        ASSERT_HRESULT_SUCCEEDED(createRegistered(board.put()));
        size_t mark = logMark();
        ASSERT_EQ(invoke(board.get(), d::portopen, P, {v(true)}).hr, S_OK);
        ASSERT_EQ(bytesOf(loggedSince(mark, 4)), FreshOpening);
        mark = logMark();
        std::vector<VARIANT> args;
        for (const Variant& a : r.args)
            args.push_back(v(a));
        const InvokeResult res = invoke(board.get(), r.dispid, flagsOf(r.kind), args);
        for (VARIANT& a : args)
            VariantClear(&a);
        EXPECT_EQ(scriptNumber(res), r.error) << res.description();
        if (r.error == 0) {
            EXPECT_EQ(zelto::com::fromVariant(*res.value.get()), r.result);
        }
        const std::string sent = zelto::test::joined(r.writes);
        std::vector<LoggedCommand> logged;
        std::vector<std::string> replies;
        if (!sent.empty())
            for (size_t n = 1; zelto::test::joined(bytesOf(logged)).size() < sent.size(); ++n) {
                logged = loggedSince(mark, n);
                if (logged.size() < n)
                    break;
            }
        for (const LoggedCommand& c : logged)
            if (!c.reply.empty())
                replies.push_back(c.reply);
        EXPECT_EQ(zelto::test::joined(bytesOf(logged)), sent);
        EXPECT_EQ(zelto::test::joined(replies), r.reply);
        EXPECT_EQ(invoke(board.get(), d::portopen, P, {v(false)}).hr, S_OK);
    }
}

TEST_F(Board, ClosingAndOpeningAgainRepeatsTheHandshakeWithTheCachedValues) {
    EXPECT_EQ(m_opening, FreshOpening);
    size_t mark = logMark();
    ASSERT_EQ(call(d::pins, P, {v(165)}).hr, S_OK);
    ASSERT_EQ(bytesOf(loggedSince(mark, 1)), std::vector<std::string>{"05 D2"});
    ASSERT_EQ(call(d::portopen, P, {v(false)}).hr, S_OK);
    EXPECT_EQ(call(d::high, M, {v(1)}).number(), 68);
    mark = logMark();
    ASSERT_EQ(call(d::portopen, P, {v(true)}).hr, S_OK);
    EXPECT_EQ(bytesOf(loggedSince(mark, 4)),
              (std::vector<std::string>{"00", "01", "05 D2", "02 80"}));
    EXPECT_EQ(call(d::portopen, P, {v(true)}).number(), 8108) << "the port is already open";
    EXPECT_EQ(call(d::CommPort, P, {v(int16_t{2})}).number(), 8108) << "no port change while open";
}

// While one board object holds COM1, another is refused with 8102 before it writes a byte, the
// holder keeps working, and the refused object opens once the holder let go. Another process of
// either width is refused the same way (registration_test.py).
TEST_F(Board, AnotherOpenerOfTheOpenPortIsRefusedAndWritesNothing) {
    ComPtr<IDispatch> second;
    ASSERT_HRESULT_SUCCEEDED(createRegistered(second.put()));
    size_t mark = logMark();
    EXPECT_EQ(invoke(second.get(), d::portopen, P, {v(true)}).number(), 8102);
    EXPECT_FALSE(isTrue(invoke(second.get(), d::portopen, G, {})));
    EXPECT_TRUE(loggedSince(mark, 1).empty()) << "the refused opener wrote to the board";
    EXPECT_TRUE(isTrue(call(d::ok, M))) << "the holder still reaches the board";
    ASSERT_EQ(call(d::portopen, P, {v(false)}).hr, S_OK);
    mark = logMark();
    ASSERT_EQ(invoke(second.get(), d::portopen, P, {v(true)}).hr, S_OK);
    EXPECT_EQ(bytesOf(loggedSince(mark, 4)), FreshOpening);
    EXPECT_EQ(invoke(second.get(), d::portopen, P, {v(false)}).hr, S_OK);
}

// A timer raises the line and calls in while resetall waits; its command leaves first, and the
// wait costs little CPU.
IDispatch* g_target = nullptr;
HRESULT g_timerHr = E_FAIL;

void CALLBACK raiseAndCallIn(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    control("cts high");
    g_timerHr = invoke(g_target, d::high, M, {v(5)}).hr;
}

TEST_F(Board, ClearToSendLowHoldsCommandsBack) {
    if (!linesEmulated()) {
        // A pseudo-terminal has no modem lines: the line counts as asserted.
        EXPECT_TRUE(isTrue(call(d::ready, G)));
        GTEST_SKIP() << "modem lines are emulated only for 64-bit Wine processes";
    }
    control("cts low");
    EXPECT_FALSE(isTrue(call(d::ready, G)));
    g_target = m_board.get();
    g_timerHr = E_FAIL;
    ASSERT_NE(SetTimer(nullptr, 0, 150, raiseAndCallIn), 0u);
    const size_t mark = logMark();
    FILETIME c0, e0, k0, u0, c1, e1, k1, u1;
    GetProcessTimes(GetCurrentProcess(), &c0, &e0, &k0, &u0);
    const auto start = Clock::now();
    const InvokeResult r = call(d::resetall, M);
    const double waited = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
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
    EXPECT_EQ(bytesOf(loggedSince(mark, 2)), (std::vector<std::string>{"1B", "5C"}))
        << "the timer's command left first";
}

TEST_F(Board, ClearToSendHeldLowEndsInTheLinkTimeout) {
    if (!linesEmulated())
        GTEST_SKIP() << "needs emulated modem lines";
    control("cts low");
    const size_t mark = logMark();
    const auto start = Clock::now();
    const InvokeResult r = call(d::high, M, {v(6)});
    EXPECT_EQ(r.number(), 8120);
    EXPECT_EQ(r.description(), "Timed out waiting for the board to be ready");
    EXPECT_GE(Clock::now() - start, 4900ms);
    // The line is still low: closing ends the wait for it that is still pending in the system.
    const auto closing = Clock::now();
    EXPECT_EQ(call(d::portopen, P, {v(false)}).hr, S_OK);
    EXPECT_LT(Clock::now() - closing, 1000ms);
    EXPECT_FALSE(isTrue(call(d::portopen, G)));
    EXPECT_TRUE(loggedSince(mark, 1).empty()) << "nothing was sent";
}
