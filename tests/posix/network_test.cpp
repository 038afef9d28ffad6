// A port on the network: the telnet framing byte by byte without a network, and the board object
// through a real ser2net in front of the simulator (the shared end-to-end rows run there too).

#include "boards.h"
#include "errors.h"
#include "network_serial.h"
#include "ser2net.h"
#include "sim_rig.h"
#include "telnet_comport.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/ioctl.h>
#include <termios.h>

namespace zelto::e2e {

// The network rig's server, and the simulator's device that it serves.
test::Ser2net& networkServer();
std::string servedDevice();

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using namespace telnet;
using Clock = std::chrono::steady_clock;
using test::errorOf;
constexpr auto M = MemberKind::Method, G = MemberKind::PropertyGet, P = MemberKind::PropertyLet;
namespace d = dispid;

bool isTrue(const Variant& v) {
    return v == Variant(true);
}

TEST(TelnetFraming, TheDecoderSplitsDataFromCommandsHoweverTheyArriveInPieces) {
    const auto sb = [](uint8_t code, Bytes value) { return Event{SB, COM_PORT, code, value}; };
    struct Row {
        const char* what;
        std::vector<Bytes> pieces;
        Bytes data;
        std::vector<Event> events;
    } rows[] = {
        {"data", {"\x01\x30"}, "\x01\x30", {}},
        {"a doubled FF is one data byte", {"\xff\xff\x33"}, "\xff\x33", {}},
        {"a doubled FF split across reads", {"\x33\xff", "\xff"}, "\x33\xff", {}},
        {"negotiations", {"\xff\xfd\x2c\xff\xfe\x01"}, "", {{DO, 44, 0, {}}, {DONT, 1, 0, {}}}},
        {"a negotiation split across reads",
         {"\xff", "\xfb",
          "\x01"
          "A"},
         "A",
         {{WILL, 1, 0, {}}}},
        {"the server's baud rate",
         {"\xff\xfa\x2c\x65\x00\x00\xe1\x00\xff\xf0"s},
         "",
         {sb(101, "\x00\x00\xe1\x00"s)}},
        {"a modem state of FF, split across reads, between data",
         {"Q\xff\xfa\x2c", "\x6b\xff",
          "\xff\xff\xf0"
          "B"},
         "QB",
         {sb(107, "\xff")}},
        {"other commands are dropped", {"\xff\xf1X\xff\xf9"}, "X", {}},
        {"another option's subnegotiation is dropped", {"\xff\xfa\x18\x01\xff\xf0Y"}, "Y", {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        for (bool byteByByte : {false, true}) {
            Decoder decoder;
            Bytes data;
            std::vector<Event> events;
            for (const Bytes& piece : r.pieces)
                for (size_t at = 0; at < piece.size(); at += byteByByte ? 1 : piece.size())
                    decoder.feed(piece.data() + at, byteByByte ? 1 : piece.size(), data, events);
            EXPECT_EQ(data, r.data);
            EXPECT_EQ(events, r.events);
        }
    }
}

TEST(TelnetFraming, WhatTheClientSends) {
    EXPECT_EQ(escape("\x01\xff\x02"), "\x01\xff\xff\x02");
    EXPECT_EQ(negotiation(WILL, COM_PORT), "\xff\xfb\x2c");
    EXPECT_EQ(comPortCommand(comport::SET_BAUDRATE, "\x00\x00\xe1\x00"s),
              "\xff\xfa\x2c\x01\x00\x00\xe1\x00\xff\xf0"s);
    EXPECT_EQ(comPortCommand(comport::SET_MODEMSTATE_MASK, "\xff"),
              "\xff\xfa\x2c\x0b\xff\xff\xff\xf0");
}

class Network : public ::testing::Test {
  protected:
    void SetUp() override {
        if (test::Ser2net::program().empty())
            GTEST_SKIP() << "ser2net is not installed: the network port is not tried";
    }
};

// The server's port is set as the board needs it while a member runs.
TEST_F(Network, TheServersPortHasTheBoardsLine) {
    auto board = rig().board("rfc2217");
    board->call(d::portopen, P, {true});
    termios t{};
    // The simulator's device, as ser2net opened it.
    const int fd = ::open(servedDevice().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::tcgetattr(fd, &t), 0);
    ::close(fd);
    EXPECT_EQ(::cfgetospeed(&t), B57600);
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), CS8 | CRTSCTS);
    EXPECT_EQ(board->call(d::a2d, M, {0}), Variant(int32_t{700}));
}

// The server reports clear-to-send late (it looks at the line about once a second): ready follows
// its report, and a command sent while the line is low is held by the server's port and reaches the
// board as soon as the line rises.
TEST_F(Network, ClearToSendLowHoldsTheCommandAtTheServer) {
    auto board = rig().board("rfc2217");
    rig().forget();
    board->call(d::portopen, P, {true});
    EXPECT_EQ(rig().next(4, 2s).size(), 4u) << "the opening's commands";
    rig().control("cts low");
    const auto start = Clock::now();
    while (isTrue(board->call(d::ready, G)) && Clock::now() - start < 3s)
        std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(isTrue(board->call(d::ready, G))) << "no report of the low line";
    board->call(d::high, M, {1});
    const auto early = rig().next(1, 300ms);
    EXPECT_TRUE(early.empty()) << "the board got a command while its line was low: "
                               << (early.empty() ? "" : early[0].text);
    rig().control("cts high");
    const auto raised = Clock::now();
    const auto got = rig().next(1, 2s);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].text, "high pin 1");
    EXPECT_LT(Clock::now() - raised, 100ms);
    while (!isTrue(board->call(d::ready, G)) && Clock::now() - raised < 3s)
        std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(isTrue(board->call(d::ready, G)));
}

// FF is the telnet command byte: as data it is doubled on the way and single at each end.
TEST_F(Network, DataBytesFFCrossBothWays) {
    auto board = rig().board("rfc2217");
    board->call(d::portopen, P, {true});
    board->call(d::eeprom, P, {300, 255});
    EXPECT_EQ(board->call(d::eeprom, G, {300}), Variant(int32_t{255}));
    rig().control("count 65535");
    EXPECT_EQ(board->call(d::count, M, {0, 1}), Variant(int32_t{65535}));
    EXPECT_FALSE(isTrue(board->call(d::errflag, G)));
}

// A raw bridge carries the bytes alone: no line settings, and clear-to-send reads as asserted.
TEST_F(Network, ARawBridgeCarriesTheBytes) {
    test::Ser2net bridge(servedDevice(), "", servedDevice() + "-raw", true, false);
    ZeltoDLL board(serialComponentFor(bridge.url()));
    board.portopen(true);
    EXPECT_TRUE(board.ok());
    EXPECT_EQ(board.a2d(0), 700);
    EXPECT_TRUE(board.ready());
    board.portopen(false);
}

TEST_F(Network, FailuresOfTheConnection) {
    // Nobody listens on a port of ser2net's once it has ended.
    networkServer().stop(SIGTERM);
    NetworkSerial refused(networkServer().url());
    const auto start = Clock::now();
    EXPECT_EQ(errorOf([&] { refused.setPortOpen(true); }), err::NoSuchPort);
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_EQ(errorOf([] { NetworkSerial("rfc2217://host.invalid:7").setPortOpen(true); }),
              err::NoSuchPort);
    networkServer().start();

    auto first = rig().board("rfc2217");
    first->call(d::portopen, P, {true});
    EXPECT_EQ(errorOf([&] { rig().board("rfc2217")->call(d::portopen, P, {true}); }),
              err::PortInUse);

    // The server ends while count waits for its answer: the member ends at once, the next command
    // finds the device gone, and opening again reaches the server once it is back.
    rig().control("silent on");
    std::thread ending([] {
        std::this_thread::sleep_for(200ms);
        networkServer().stop(SIGKILL);
    });
    const auto waited = Clock::now();
    EXPECT_EQ(first->call(d::count, M, {0, 1}), Variant(int32_t{0}));
    ending.join();
    EXPECT_LT(Clock::now() - waited, 1s);
    EXPECT_TRUE(isTrue(first->call(d::errflag, G)));
    EXPECT_EQ(errorOf([&] { first->call(d::ok, M); }), err::DeviceGone);
    rig().control("silent off");
    networkServer().start();
    first->call(d::portopen, P, {false});
    first->call(d::portopen, P, {true});
    EXPECT_TRUE(isTrue(first->call(d::ok, M)));
}

} // namespace
} // namespace zelto::e2e
