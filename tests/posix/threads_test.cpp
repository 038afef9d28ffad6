// One board object from several threads, and boards each on its own thread, through the C++ object
// and the C interface: every answer is the one its caller asked for, a caller waits for another
// thread's member as for the link, and destroying a board ends the member that waits in it. The
// full test run also runs these under ThreadSanitizer.

#include "boards.h"
#include "errors.h"
#include "sim_rig.h"
#include "sim_serial.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace zelto::e2e {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::errorOf;
constexpr auto M = MemberKind::Method, G = MemberKind::PropertyGet, P = MemberKind::PropertyLet;
namespace d = dispid;

// A board object on a simulated board inside this process, the way given.
std::unique_ptr<Board> simulated(const std::string& way) {
    if (way == "C")
        return std::make_unique<CBoard>(oz_board_create_simulated());
    return std::make_unique<NativeBoard>(std::make_unique<sim::SimSerial>());
}

struct Row {
    const char* way;
    bool shared; // one board for all threads, on the simulator program; else one each, in-process
    int threads;
};

std::string nameOf(const Row& r) {
    return std::string(r.way) + (r.shared ? "_OneBoard_" : "_BoardEach_") +
           std::to_string(r.threads) + "Threads";
}

std::string rowName(const ::testing::TestParamInfo<Row>& info) {
    return nameOf(info.param);
}

void PrintTo(const Row& r, std::ostream* out) {
    *out << nameOf(r);
}

class Threads : public ::testing::TestWithParam<Row> {};

// Each thread writes its own EEPROM address and reads it back, over and over: a reply that went to
// another caller, or a call that failed, shows.
TEST_P(Threads, EveryAnswerIsTheOneItsCallerAskedFor) {
    const Row& r = GetParam();
    std::vector<std::unique_ptr<Board>> boards;
    for (int n = 0; n < (r.shared ? 1 : r.threads); ++n) {
        boards.push_back(r.shared ? rig().board(r.way) : simulated(r.way));
        boards.back()->call(d::portopen, P, {true});
    }
    std::atomic<int> wrong{0}, failed{0};
    std::vector<std::thread> running;
    for (int t = 0; t < r.threads; ++t)
        running.emplace_back([&, t] {
            Board& board = *boards[r.shared ? 0 : static_cast<size_t>(t)];
            for (int32_t n = 0; n < 150; ++n) {
                const int32_t value = (t * 31 + n) % 256;
                try {
                    board.call(d::eeprom, P, {t, value});
                    if (board.call(d::eeprom, G, {t}) != Variant(value))
                        ++wrong;
                } catch (const AutomationError&) {
                    ++failed;
                }
            }
        });
    for (std::thread& t : running)
        t.join();
    EXPECT_EQ(wrong, 0) << "answers that were not the caller's";
    EXPECT_EQ(failed, 0);
    for (auto& board : boards)
        board->call(d::portopen, P, {false});
}

INSTANTIATE_TEST_SUITE_P(Ways, Threads,
                         ::testing::Values(Row{"native", true, 2}, Row{"native", true, 8},
                                           Row{"native", false, 2}, Row{"native", false, 8},
                                           Row{"C", true, 2}, Row{"C", true, 8}, Row{"C", false, 2},
                                           Row{"C", false, 8}),
                         rowName);

// count waits up to 70 s for a silent board's answer. Destroying the board on another thread ends
// it within a wait slice, and frees the board only once the member has left (a use after free
// is the sanitizers' to see).
TEST(ThreadsEnding, DestroyingABoardEndsTheMemberThatWaitsInIt) {
    for (const std::string& way : rig().ways()) {
        SCOPED_TRACE(way);
        auto board = rig().board(way);
        board->call(d::portopen, P, {true});
        rig().control("silent on");
        Clock::time_point left;
        std::thread waiting([&, &b = *board] {
            EXPECT_EQ(errorOf([&] { b.call(d::count, M, {0, 65535}); }), 0);
            left = Clock::now();
        });
        std::this_thread::sleep_for(200ms);
        const auto start = Clock::now();
        board.reset();
        const auto freed = Clock::now();
        waiting.join();
        rig().control("silent off");
        EXPECT_LT(freed - start, 500ms);
        EXPECT_LT(left - start, 500ms);
    }
}

// While one thread's member waits for its answer, another thread's call waits for it as for the
// link, and fails as the link does when the limit passes.
TEST(ThreadsEnding, ACallerWaitsForAnotherThreadsMemberUpToTheLinkLimit) {
    auto board = rig().board("native");
    board->call(d::portopen, P, {true});
    rig().control("silent on");
    std::thread measuring([&b = *board] { b.call(d::count, M, {0, 65535}); });
    std::this_thread::sleep_for(100ms);
    const auto start = Clock::now();
    EXPECT_EQ(errorOf([&] { board->call(d::ok, M); }), err::LinkTimeout);
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, Limits{}.linkWait - 100ms);
    EXPECT_LT(waited, Limits{}.linkWait + 1s);
    board.reset();
    measuring.join();
    rig().control("silent off");
}

// Another thread ends a member that waits for a slow answer; the answer that comes after it is not
// taken as the next member's, and an interrupt while nothing runs ends nothing.
TEST(ThreadsEnding, AnInterruptEndsTheWaitingMemberAndItsLateAnswerIsDropped) {
    for (const std::string& way : rig().ways()) {
        SCOPED_TRACE(way);
        auto board = rig().board(way);
        auto& ends = dynamic_cast<Interruptible&>(*board);
        board->call(d::portopen, P, {true});
        rig().control("delay 600");
        const auto start = Clock::now();
        std::thread interrupting([&] {
            std::this_thread::sleep_for(200ms);
            ends.interrupt();
        });
        EXPECT_EQ(errorOf([&] { board->call(d::count, M, {0, 1}); }), err::Interrupted);
        const auto ended = Clock::now() - start;
        interrupting.join();
        EXPECT_GE(ended, 200ms);
        EXPECT_LT(ended, 400ms);
        EXPECT_EQ(board->call(d::errflag, G), Variant(true));
        rig().control("delay 0");
        std::this_thread::sleep_for(600ms); // the count's two answer bytes arrive meanwhile
        EXPECT_EQ(board->call(d::ok, M), Variant(true));
        rig().control("analog 1 700");
        EXPECT_EQ(board->call(d::a2d, M, {1}), Variant(int32_t{700}));

        ends.interrupt();
        EXPECT_EQ(board->call(d::a2d, M, {1}), Variant(int32_t{700}));
        EXPECT_EQ(board->call(d::portopen, G), Variant(true));
        board->call(d::portopen, P, {false});
    }
}

} // namespace
} // namespace zelto::e2e
