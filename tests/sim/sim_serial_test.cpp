#include "errors.h"
#include "sim_serial.h"

#include "faulty_sim_serial.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace std::chrono_literals;
using zelto::Bytes;
using zelto::Millis;
using zelto::sim::hex;
using zelto::sim::SimSerial;
namespace err = zelto::err;

namespace {

using zelto::test::errorOf;
using zelto::test::FaultySimSerial;

Bytes readAll(SimSerial& port) {
    Bytes all;
    for (Bytes b = port.input(); !b.empty(); b = port.input())
        all += b;
    return all;
}

// The line rules are in tests/serial; writes, replies and waits on a working board are what every
// case of tests/core runs on.
TEST(SimSerial, FailedOpening) {
    FaultySimSerial port;
    port.setOpenError(err::NoSuchPort);
    EXPECT_EQ(errorOf([&] { port.setPortOpen(true); }), err::NoSuchPort);
    EXPECT_FALSE(port.portOpen());
    port.setOpenError(0);
    port.setPortOpen(true);
    EXPECT_TRUE(port.writes().empty());
    EXPECT_TRUE(port.model()->events().empty());
}

TEST(SimSerial, SilentBoardStillSeesTheBytes) {
    SimSerial port;
    port.setPortOpen(true);
    port.setSilent(true);
    port.queueReply("\x42");
    port.setOutput("\x0D");
    port.setOutput("\x01");
    EXPECT_TRUE(port.model()->state().led);
    EXPECT_EQ(hex(readAll(port)), "42");
}

TEST(SimSerial, FailedReadsAndWrites) {
    FaultySimSerial port;
    port.setPortOpen(true);
    port.setOutput("\x01");
    port.failNextReads(2, err::PortIoError);
    EXPECT_EQ(errorOf([&] { port.input(); }), err::PortIoError);
    EXPECT_EQ(errorOf([&] { port.input(); }), err::PortIoError);
    EXPECT_EQ(port.input(), "\x33"); // the failed reads left it pending
    EXPECT_EQ(port.inputCalls(), 3); // the failed ones count too

    port.setWriteError(err::PortIoError);
    EXPECT_EQ(errorOf([&] { port.setOutput("\x0D"); }), err::PortIoError);
    EXPECT_EQ(port.writes().size(), 1u);
    EXPECT_FALSE(port.model()->state().led);
    port.setWriteError(0);

    // A read that fails as if the device had gone fails alone: the next read reads again, and
    // writing and the line still work.
    port.failNextReads(1, err::DeviceGone);
    port.queueReply("\x42");
    EXPECT_EQ(errorOf([&] { port.input(); }), err::DeviceGone);
    EXPECT_TRUE(port.ctsHolding());
    EXPECT_EQ(port.input(), "\x42");
    port.setOutput("\x0C");

    // A write that found the device gone holds for the write and the line until closing; reads
    // still go to the port.
    port.setWriteError(err::DeviceGone);
    EXPECT_EQ(errorOf([&] { port.setOutput("\x01"); }), err::DeviceGone);
    port.setWriteError(0);
    port.queueReply("\x43");
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(errorOf([&] { port.ctsHolding(); }), err::DeviceGone);
        EXPECT_EQ(errorOf([&] { port.setOutput("\x01"); }), err::DeviceGone);
    }
    EXPECT_EQ(port.input(), "\x43");
    port.setPortOpen(false);
    port.setPortOpen(true);
    EXPECT_TRUE(port.ctsHolding());
    port.setOutput("\x01");
    EXPECT_EQ(port.input(), "\x33");
}

TEST(SimSerial, CtsRaisedByThePollCallbackAndShortWaitsWhileLow) {
    SimSerial port;
    port.setPortOpen(true);
    port.setCts(false);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(port.ctsHolding(Millis{5000}));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    port.onCtsPoll([&](int poll) {
        if (poll == 4)
            port.setCts(true);
    });
    int polls = 0;
    while (!port.ctsHolding(Millis{50}) && polls < 10)
        ++polls;
    EXPECT_EQ(polls, 2);
    EXPECT_EQ(port.ctsCalls(), 4);
}

} // namespace
