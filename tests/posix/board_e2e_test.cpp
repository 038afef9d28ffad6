// The board object with the termios component against the simulator program over a real
// pseudo-terminal.

#include "errors.h"
#include "ostrelzelto.h"
#include "posix_serial.h"
#include "pty_pair.h"
#include "sim_process.h"
#include "test_support.h"
#include "values.h"
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

// A row's call on a board opened on a device, through one of the ways in.
using Caller = std::function<Variant(int32_t dispid, MemberKind kind, const std::vector<Variant>&)>;

Caller nativeBoard(const std::string& device) {
    std::shared_ptr<ZeltoDLL> board = boardOn(device);
    board->portopen(true);
    return [board](int32_t id, MemberKind kind, const std::vector<Variant>& args) {
        return invoke(*board, id, kind, args);
    };
}

// The C interface of libostrelzelto.so; its failures come back as the board object's errors.
Caller cBoard(const std::string& device) {
    std::shared_ptr<oz_board> board(oz_board_create_device(device.c_str()), oz_board_destroy);
    auto call = [board](int32_t id, MemberKind kind, const std::vector<Variant>& args) {
        std::vector<oz_value> values;
        for (const Variant& a : args)
            values.push_back(capi::toValue(a));
        oz_value result{};
        const int32_t error = oz_call(board.get(), id, static_cast<int32_t>(kind), values.data(),
                                      static_cast<int32_t>(values.size()), &result);
        if (error != 0)
            throw AutomationError(oz_last_error(), oz_last_error_text());
        return capi::toVariant(result);
    };
    call(dispid::portopen, MemberKind::PropertyLet, {true});
    return call;
}

// The wire table against the simulator program, which logs whole commands rather than writes:
// the byte streams are compared, and the replies it logged.
class WireOverPty : public ::testing::TestWithParam<test::WireRow> {
  protected:
    void check(const std::function<Caller(const std::string&)>& open) {
        const test::WireRow& r = GetParam();
        SimProcess sim;
        for (const std::string& line : test::standardBoard())
            sim.control(line);
        const Caller call = open(sim.device());
        ASSERT_EQ(sim.nextBytes(4), (Lines{"00", "01", "04 80", "02 80"}));
        Variant result;
        EXPECT_EQ(errorOf([&] { result = call(r.dispid, r.kind, r.args); }), r.error);
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
        EXPECT_EQ(call(dispid::ready, MemberKind::PropertyGet, {}), Variant(true));
    }
};

TEST_P(WireOverPty, TheBoardDecodesTheBytesAndAnswers) {
    check(nativeBoard);
}

TEST_P(WireOverPty, ThroughTheCInterface) {
    check(cBoard);
}

INSTANTIATE_TEST_SUITE_P(Rows, WireOverPty, ::testing::ValuesIn(test::modelledRows()),
                         test::rowName);

TEST(CInterface, BoardsComeAndGoWithoutLeaking) {
    // The leak checker of the test build sees whatever a cycle leaves behind.
    const oz_value yes{OZ_BOOLEAN, 1, 0.0, nullptr}, pin{OZ_LONG, 0, 0.0, nullptr};
    for (int n = 0; n < 20000; ++n) {
        oz_board* board = oz_board_create_simulated();
        ASSERT_NE(board, nullptr);
        oz_value result{};
        ASSERT_EQ(oz_call_name(board, "PortOpen", OZ_PROPERTY_PUT, &yes, 1, nullptr), 0);
        ASSERT_EQ(oz_call_name(board, "a2d", OZ_METHOD, &pin, 1, &result), 0);
        ASSERT_EQ(oz_call_name(board, "a2d", OZ_PROPERTY_GET, &pin, 1, &result), 438);
        oz_board_destroy(board);
        board = oz_board_create_device("/dev/zelto-no-such-device");
        ASSERT_EQ(oz_call_name(board, "portopen", OZ_PROPERTY_PUT, &yes, 1, nullptr),
                  err::NoSuchPort);
        oz_board_destroy(board);
    }
    EXPECT_EQ(oz_board_create_port(0), nullptr);
    EXPECT_EQ(oz_last_error(), err::InvalidPortNumber);
}

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
