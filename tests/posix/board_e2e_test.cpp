// The board object with the termios component against the simulator program over a real
// pseudo-terminal.

#include "errors.h"
#include "posix_serial.h"
#include "pty_pair.h"
#include "sim_process.h"
#include "test_support.h"
#include "wire_table.h"
#include "zeltodll.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace zelto {
namespace {

using sim::SimProcess;
using test::Clock;
using test::CtsFile;
using test::EmulatedModemLines;
using test::errorOf;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

std::unique_ptr<ZeltoDLL> boardOn(const std::string& device, Limits limits = {},
                                  MessagePump* pump = nullptr) {
    return std::make_unique<ZeltoDLL>(std::make_unique<PosixSerial>(device), pump, limits);
}

// Opens the port and takes the four commands of the opening from the simulator's log.
Lines openBoard(ZeltoDLL& board, SimProcess& sim) {
    board.portopen(true);
    return sim.nextBytes(4);
}

// The wire table against the simulator program, which logs whole commands rather than writes:
// the byte streams are compared, and the replies it logged.
class WireOverPty : public ::testing::TestWithParam<test::WireRow> {};

TEST_P(WireOverPty, TheBoardDecodesTheBytesAndAnswers) {
    const test::WireRow& r = GetParam();
    SimProcess sim;
    for (const std::string& line : test::standardBoard())
        sim.control(line);
    auto board = boardOn(sim.device());
    ASSERT_EQ(openBoard(*board, sim), (Lines{"00", "01", "04 80", "02 80"}));
    Variant result;
    EXPECT_EQ(errorOf([&] { result = invoke(*board, r.dispid, r.kind, r.args); }), r.error);
    if (r.error == 0) {
        EXPECT_EQ(result, r.result);
    }
    const std::string sent = test::joined(r.writes);
    std::vector<std::string> bytes, replies;
    while (test::joined(bytes).size() < sent.size()) {
        const auto c = sim.nextCommand();
        if (!c)
            break;
        bytes.push_back(c->bytes);
        if (!c->reply.empty())
            replies.push_back(c->reply);
    }
    EXPECT_EQ(test::joined(bytes), sent);
    EXPECT_EQ(test::joined(replies), r.reply);
    EXPECT_TRUE(sim.quiet(5ms)) << "more was sent";
    EXPECT_TRUE(board->ready());
}

INSTANTIATE_TEST_SUITE_P(Rows, WireOverPty, ::testing::ValuesIn(test::modelledRows()),
                         test::rowName);

TEST(BoardOverPty, MemberWaitsForClearToSendThenWritesExactlyItsBytes) {
    CtsFile cts;
    EmulatedModemLines lines(cts.path());
    SimProcess sim({"--cts-file", cts.path()});
    bool raised = false;
    Lines decodedWhileLow;
    test::OncePump pump;
    auto board = boardOn(sim.device(), {}, &pump);
    openBoard(*board, sim);
    EXPECT_TRUE(board->ready());

    sim.control("cts low");
    pump.once = [&] {
        // The member is waiting: the board must not have received anything yet.
        while (auto c = sim.nextCommand(5ms))
            decodedWhileLow.push_back(c->bytes);
        sim.send("cts high");
        raised = true;
    };
    EXPECT_FALSE(board->ready());
    const auto start = Clock::now();
    board->resetall();
    EXPECT_LT(Clock::now() - start, 2s);
    EXPECT_TRUE(raised);
    EXPECT_TRUE(decodedWhileLow.empty()) << decodedWhileLow.front();
    EXPECT_EQ(sim.nextBytes(1), Lines{"5C"});
    EXPECT_TRUE(sim.quiet(30ms));
    EXPECT_TRUE(board->ready());
}

TEST(BoardOverPty, LineHeldLowEndsTheMemberAtTheLinkLimit) {
    CtsFile cts;
    EmulatedModemLines lines(cts.path());
    SimProcess sim({"--cts-file", cts.path()});
    Limits limits;
    limits.linkWait = 200ms;
    auto board = boardOn(sim.device(), limits);
    openBoard(*board, sim);
    sim.control("cts low");
    const auto start = Clock::now();
    EXPECT_EQ(errorOf([&] { board->high(3); }), err::LinkTimeout);
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, 200ms);
    EXPECT_LT(waited, 1s);
    EXPECT_TRUE(sim.quiet(30ms));
}

TEST(BoardOverPty, SilentBoardEndsTheMemberWithinItsLimit) {
    SimProcess sim;
    auto board = boardOn(sim.device());
    openBoard(*board, sim);
    sim.control("silent on");
    const auto start = Clock::now();
    EXPECT_EQ(board->a2d(0), 0);
    const auto waited = Clock::now() - start;
    EXPECT_TRUE(board->errflag());
    EXPECT_GE(waited, 2 * board->limits().reply);
    EXPECT_LT(waited, 2 * board->limits().reply + 500ms);
    EXPECT_TRUE(board->ready()) << "the link was left claimed";
}

TEST(BoardOverPty, SecondProgramCannotOpenTheSameBoard) {
    SimProcess sim;
    auto first = boardOn(sim.device());
    openBoard(*first, sim);
    auto second = boardOn(sim.device());
    EXPECT_EQ(errorOf([&] { second->portopen(true); }), err::PortInUse);
    EXPECT_FALSE(second->portopen());
    EXPECT_TRUE(sim.quiet(20ms)) << "the refused opener wrote to the board";
    EXPECT_TRUE(first->ok());
    EXPECT_EQ(sim.nextBytes(1), Lines{"01"});
    first->portopen(false);
    EXPECT_EQ(openBoard(*second, sim), (Lines{"00", "01", "04 80", "02 80"}));
}

} // namespace
} // namespace zelto
