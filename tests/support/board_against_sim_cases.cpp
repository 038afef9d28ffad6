// The board object end to end, the same cases on every platform: its own serial stack to the
// simulator program on a pseudo-terminal (see sim_rig.h for what each platform provides).

#include "errors.h"
#include "sim_rig.h"
#include "test_support.h"
#include "wire_table.h"
#include "zeltodll.h"

#include <gtest/gtest.h>

#include <thread>

namespace zelto::e2e {
namespace {

using namespace std::chrono_literals;
using test::errorOf;
using Clock = std::chrono::steady_clock;
using Lines = std::vector<std::string>;
constexpr auto M = MemberKind::Method, G = MemberKind::PropertyGet, P = MemberKind::PropertyLet;
namespace d = dispid;

const Lines FreshOpening = {"00", "01", "04 80", "02 80"};

Lines bytesOf(const std::vector<test::LoggedCommand>& logged) {
    Lines out;
    for (const test::LoggedCommand& c : logged)
        out.push_back(c.bytes);
    return out;
}

bool isTrue(const Variant& v) {
    return v == Variant(true);
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Opens the board object and reads the opening's commands from the log, after whatever was
// logged before.
void open(Board& board, const Lines& opening = FreshOpening) {
    rig().forget();
    while (!rig().next(1, 20ms).empty()) {
    }
    board.call(d::portopen, P, {true});
    EXPECT_EQ(bytesOf(rig().next(4, 2s)), opening);
}

std::unique_ptr<Board> opened(const std::string& way = rig().ways().front()) {
    auto board = rig().board(way);
    open(*board);
    return board;
}

class Wire : public ::testing::TestWithParam<test::WireRow> {
  protected:
    static void SetUpTestSuite() {
        for (const std::string& line : test::standardBoard())
            rig().control(line);
    }
};

// Each row on a fresh board object, through every way in. The simulator logs whole commands
// rather than writes, so the byte streams are compared, and the replies it logged.
TEST_P(Wire, EveryWayInSendsTheRowsBytesAndDecodesTheReply) {
    const test::WireRow& r = GetParam();
    for (const std::string& way : rig().ways()) {
        SCOPED_TRACE(way);
        const auto board = opened(way);
        Variant result;
        EXPECT_EQ(errorOf([&] { result = board->call(r.dispid, r.kind, r.args); }), r.error);
        if (r.error == 0) {
            EXPECT_EQ(result, r.result);
        }
        const std::string sent = test::joined(r.writes);
        Lines bytes, replies;
        while (test::joined(bytes).size() < sent.size()) {
            const auto logged = rig().next(1, 2s);
            if (logged.empty())
                break;
            bytes.push_back(logged[0].bytes);
            if (!logged[0].reply.empty())
                replies.push_back(logged[0].reply);
        }
        EXPECT_EQ(test::joined(bytes), sent);
        EXPECT_EQ(test::joined(replies), r.reply);
        EXPECT_TRUE(rig().next(1, 5ms).empty()) << "more was sent";
        EXPECT_TRUE(isTrue(board->call(d::ready, G)));
        board->call(d::portopen, P, {false});
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, Wire, ::testing::ValuesIn(test::modelledRows()), test::rowName);

class Link : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!rig().preloaded())
            GTEST_SKIP() << "clear-to-send does not reach this process";
        m_board = opened();
        rig().control("cts low");
    }
    void TearDown() override {
        if (m_board)
            rig().control("cts high");
    }
    std::unique_ptr<Board> m_board;
};

// Host code called from the pump while resetall waits gets its command out first, and the wait
// sleeps rather than spins.
TEST_F(Link, ClearToSendLowHoldsCommandsBackWhileTheHostRuns) {
    EXPECT_FALSE(isTrue(m_board->call(d::ready, G)));
    int32_t inner = -1;
    rig().duringTheWait(150ms, [&] {
        EXPECT_TRUE(rig().next(1, 5ms).empty()) << "sent while clear-to-send was low";
        rig().control("cts high");
        inner = errorOf([&] { m_board->call(d::high, M, {5}); });
    });
    const double cpu = rig().cpuSeconds();
    const auto start = Clock::now();
    EXPECT_EQ(errorOf([&] { m_board->call(d::resetall, M); }), 0);
    const double waited = seconds(Clock::now() - start);
    EXPECT_EQ(inner, 0);
    EXPECT_GE(waited, 0.14);
    EXPECT_LT(waited, 1.0);
    EXPECT_LT(rig().cpuSeconds() - cpu, waited / 2) << "the wait spins";
    EXPECT_EQ(bytesOf(rig().next(2, 2s)), (Lines{"1B", "5C"})) << "the host's command first";
    EXPECT_TRUE(rig().next(1, 30ms).empty());
    EXPECT_TRUE(isTrue(m_board->call(d::ready, G)));
}

TEST_F(Link, ClearToSendHeldLowEndsTheMemberAtTheLinkLimit) {
    const auto limit = Limits{}.linkWait;
    const auto start = Clock::now();
    try {
        m_board->call(d::high, M, {6});
        ADD_FAILURE() << "high went through";
    } catch (const AutomationError& e) {
        EXPECT_EQ(e.number(), err::LinkTimeout);
        EXPECT_STREQ(e.what(), "Timed out waiting for the board to be ready");
    }
    EXPECT_GE(Clock::now() - start, limit - 100ms);
    EXPECT_LT(Clock::now() - start, limit + 1s);
    // The line is still low: closing ends a wait for it that may still be pending in the system.
    const auto closing = Clock::now();
    m_board->call(d::portopen, P, {false});
    EXPECT_LT(Clock::now() - closing, 1s);
    EXPECT_TRUE(rig().next(1, 30ms).empty()) << "sent while clear-to-send was low";
}

TEST_F(Link, ClosingThePortUnderAWaitingMemberEndsIt) {
    int32_t inner = -1;
    rig().duringTheWait(100ms,
                        [&] { inner = errorOf([&] { m_board->call(d::portopen, P, {false}); }); });
    const auto start = Clock::now();
    EXPECT_EQ(errorOf([&] { m_board->call(d::high, M, {2}); }), err::PortNotOpen);
    EXPECT_LT(Clock::now() - start, 3s);
    EXPECT_EQ(inner, 0);
    EXPECT_TRUE(rig().next(1, 100ms).empty()) << "sent after the port was closed";
}

TEST(Replies, SilentBoardEndsTheMemberWithinItsLimit) {
    const auto board = opened();
    rig().control("silent on");
    const auto start = Clock::now();
    EXPECT_EQ(board->call(d::a2d, M, {0}).integral(), 0);
    const auto waited = Clock::now() - start;
    rig().control("silent off");
    EXPECT_TRUE(isTrue(board->call(d::errflag, G)));
    EXPECT_GE(waited, 2 * Limits{}.reply);
    EXPECT_LT(waited, 2 * Limits{}.reply + 500ms);
    EXPECT_TRUE(isTrue(board->call(d::ready, G))) << "the link was left claimed";
}

// While one board object holds the port, another is refused before it writes a byte, the holder
// keeps working, and the refused object opens once the holder let go.
TEST(Opening, AnotherOpenerOfTheOpenPortIsRefusedAndWritesNothing) {
    const auto first = opened();
    const auto second = rig().board(rig().ways().front());
    EXPECT_EQ(errorOf([&] { second->call(d::portopen, P, {true}); }), err::PortInUse);
    EXPECT_FALSE(isTrue(second->call(d::portopen, G)));
    EXPECT_TRUE(rig().next(1, 20ms).empty()) << "the refused opener wrote to the board";
    EXPECT_TRUE(isTrue(first->call(d::ok, M)));
    EXPECT_EQ(bytesOf(rig().next(1, 2s)), Lines{"01"});
    first->call(d::portopen, P, {false});
    open(*second);
}

// A read that the system fails, with the error a vanished device gives or another one, yields 0
// and sets errflag for that read alone: the bytes it did not take are read next, and the next
// member works and writes its bytes.
TEST(FailedRead, YieldsZeroAndTheNextReadReadsAgain) {
    if (!rig().preloaded())
        GTEST_SKIP() << "reads cannot be failed in this process";
    const struct {
        const char* what;
        Lines board; // the simulator's set-up before opening
        int failing; // the read that fails, counted from the member's start
        int32_t dispid;
        MemberKind kind;
        std::vector<Variant> args;
        Lines sent;       // what the member writes
        Variant result;   // what it returns (Empty for the opening)
        bool errflag;     // errflag afterwards
        Variant leftover; // what readbyte reads next
    } rows[] = {
        // Of ten reads, the failed one is the first: nine stray bytes are dropped, the answer 51
        // stays waiting, and the cached values go out.
        {"the opening handshake counts the failed read as one of ten",
         {"stray 9"},
         1,
         d::portopen,
         P,
         {true},
         {"00", "01", "05 D2", "03 87"},
         Variant(),
         false,
         Variant(51)},
        {"readword's first read",
         {"stray 10"},
         1,
         d::readword,
         M,
         {},
         {},
         Variant(51),
         false,
         Variant()},
        {"a2d's second reply byte",
         {"stray 0", "analog 0 777"},
         2,
         d::a2d,
         M,
         {0},
         {"30"},
         Variant(768),
         true,
         Variant(9)},
    };
    for (const std::string& way : rig().ways()) {
        // Linux's numbers, where the read is failed, whatever this program was built for: the
        // error a vanished device gives, and a protocol error.
        for (const int error : {5 /* EIO */, 71 /* EPROTO */}) {
            for (const auto& r : rows) {
                SCOPED_TRACE(way + ", errno " + std::to_string(error) + ": " + r.what);
                for (const std::string& line : r.board)
                    rig().control(line);
                const auto board = rig().board(way);
                board->call(d::pins, P, {165});
                board->call(d::tris, P, {15});
                if (r.dispid != d::portopen)
                    open(*board, {"00", "01", "05 D2", "03 87"});
                rig().forget();
                rig().failRead(r.failing, error);
                Variant result;
                EXPECT_EQ(errorOf([&] { result = board->call(r.dispid, r.kind, r.args); }), 0);
                rig().failRead(0, 0);
                EXPECT_EQ(result, r.result);
                EXPECT_EQ(isTrue(board->call(d::errflag, G)), r.errflag);
                EXPECT_EQ(bytesOf(rig().next(r.sent.size(), 2s)), r.sent);
                if (!r.leftover.isEmpty()) {
                    EXPECT_EQ(board->call(d::readbyte, M), r.leftover);
                    EXPECT_FALSE(isTrue(board->call(d::errflag, G)));
                }
                EXPECT_TRUE(isTrue(board->call(d::ok, M)));
                EXPECT_EQ(bytesOf(rig().next(1, 2s)), Lines{"01"});
                EXPECT_TRUE(isTrue(board->call(d::ready, G)));
                board->call(d::portopen, P, {false});
            }
        }
    }
    rig().control("stray 0");
    rig().control("analog 0 700");
}

// Reads of a vanished device fail as any failed read does; the next send tells that it has gone,
// at once rather than at the link limit.
TEST(Faults, AVanishedDeviceIsToldByTheNextSend) {
    const auto board = opened();
    rig().unplug();
    for (int read = 0; read < 2; ++read) {
        EXPECT_EQ(board->call(d::readbyte, M).integral(), 0);
        EXPECT_TRUE(isTrue(board->call(d::errflag, G)));
    }
    const auto start = Clock::now();
    EXPECT_EQ(errorOf([&] { board->call(d::high, M, {1}); }), err::DeviceGone);
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_EQ(errorOf([&] { board->call(d::resetall, M); }), err::DeviceGone);
    board->call(d::portopen, P, {false});
    rig().plugIn();
    open(*board);
    EXPECT_EQ(board->call(d::a2d, M, {0}).integral(), 700);
    board->call(d::portopen, P, {false});
}

// The device goes while a member is at each of its waits: the member ends at once, and closing,
// a new board on the port and opening again is the way back.
TEST(Faults, DeviceVanishingMidMember) {
    const struct {
        const char* when;
        bool needsLines;
        const char* before; // a simulator command first
        bool reopen;        // the member is the opening itself
        int32_t dispid;
        MemberKind kind;
        Variant arg;
        int32_t error;   // the error the member ends with
        bool failedRead; // errflag set afterwards
    } cases[] = {
        {"while the link waits for clear-to-send", true, "cts low", false, d::high, M, 1,
         err::DeviceGone, false},
        {"while a member waits for its reply", false, "delay 3000", false, d::a2d, M, 0, 0, true},
        {"during the opening handshake", false, "silent on", true, d::portopen, P, true,
         err::DeviceGone, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.when);
        if (c.needsLines && !rig().preloaded())
            continue;
        const auto board = opened();
        rig().control(c.before);
        if (c.reopen)
            board->call(d::portopen, P, {false});
        std::thread unplug([] {
            std::this_thread::sleep_for(300ms);
            rig().unplug();
        });
        const auto start = Clock::now();
        EXPECT_EQ(errorOf([&] { board->call(c.dispid, c.kind, {c.arg}); }), c.error);
        EXPECT_LT(Clock::now() - start, 3s) << "no hang after the device went";
        unplug.join();
        if (c.failedRead) {
            EXPECT_TRUE(isTrue(board->call(d::errflag, G)));
        }
        board->call(d::portopen, P, {false});
        rig().plugIn();
        open(*board);
        EXPECT_TRUE(isTrue(board->call(d::ready, G)));
        EXPECT_EQ(board->call(d::a2d, M, {0}).integral(), 700);
        EXPECT_FALSE(isTrue(board->call(d::errflag, G)));
        board->call(d::portopen, P, {false});
    }
}

} // namespace
} // namespace zelto::e2e
