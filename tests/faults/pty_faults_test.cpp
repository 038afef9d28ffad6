// The board object with the termios component over real pseudo-terminals, when the device goes
// away while a member waits for clear-to-send or the board answers nonsense. The device vanishing
// at every other step is in member_faults_test.cpp, and how the component reports it in
// tests/posix.

#include "fault_fixture.h"
#include "posix_serial.h"
#include "pty_pair.h"
#include "sim_process.h"

#include <atomic>
#include <random>
#include <thread>

namespace zelto::faults {
namespace {

using sim::SimProcess;
using test::Clock;
using test::CtsFile;
using test::EmulatedModemLines;
using test::PtyPair;

TEST(PtyFaults, DeviceVanishingWhileTheLinkIsAwaited) {
    CtsFile cts;
    EmulatedModemLines lines(cts.path());
    auto sim = std::make_unique<SimProcess>(std::vector<std::string>{"--cts-file", cts.path()});
    auto serial = std::make_unique<PosixSerial>(sim->device());
    PosixSerial* port = serial.get();
    ZeltoDLL board(std::move(serial)); // the ordinary 5 s wait for the link
    board.portopen(true);
    sim->control("cts low");
    std::thread unplug([&] {
        std::this_thread::sleep_for(50ms);
        sim->kill(SIGKILL);
    });
    const auto start = Clock::now();
    EXPECT_EQ(errorOf([&] { board.high(1); }), err::DeviceGone);
    EXPECT_LT(Clock::now() - start, 2s) << "the wait did not notice the device was gone";
    unplug.join();
    EXPECT_FALSE(PrimitiveAccess::busy(board));
    EXPECT_EQ(errorOf([&] { board.ready(); }), err::DeviceGone);

    // The same object on a board that works again.
    board.portopen(false);
    sim = std::make_unique<SimProcess>(std::vector<std::string>{"--cts-file", cts.path()});
    port->setDevicePath(sim->device());
    board.portopen(true);
    EXPECT_TRUE(board.ok());
    EXPECT_TRUE(board.ready());
}

// A board that answers every command with a random number of random bytes, then comes to its
// senses: no member hangs or raises meanwhile, and a client that drains what is left with
// readbyte gets right answers again.
TEST(PtyFaults, BoardAnsweringGarbage) {
    PtyPair pty;
    const Limits limits = shortLimits();
    ZeltoDLL board(std::make_unique<PosixSerial>(pty.path()), nullptr, limits);
    std::atomic<bool> garbage{false};
    std::atomic<bool> stop{false};
    std::thread device([&] {
        sim::BoardModel model;
        model.state().analog[1] = 0x0155;
        std::mt19937 random(7);
        while (!stop) {
            const std::string in = pty.receive(1, 10ms);
            if (in.empty())
                continue;
            const Bytes reply = model.feed(in);
            if (!garbage) {
                pty.send(reply);
                continue;
            }
            std::string noise(random() % 5, '\0');
            for (char& c : noise)
                c = static_cast<char>(random());
            pty.send(noise);
        }
    });
    board.portopen(true);
    EXPECT_TRUE(board.ok());

    garbage = true;
    std::mt19937 pick(11);
    const auto& calls = sendingMembers();
    const auto slowest = 2 * limits.measurement + 500ms;
    for (int i = 0; i < 150; ++i) {
        const WireRow& c = calls[pick() % calls.size()];
        SCOPED_TRACE(::testing::PrintToString(c));
        const auto start = Clock::now();
        EXPECT_EQ(errorOf([&] { invoke(board, c.dispid, c.kind, c.args); }), 0);
        EXPECT_LT(Clock::now() - start, slowest);
        EXPECT_TRUE(board.ready());
    }

    garbage = false;
    std::this_thread::sleep_for(50ms); // noise already on its way
    int drained = 0;
    do {
        board.readbyte();
    } while (!board.errflag() && ++drained < 10000);
    EXPECT_TRUE(board.ok());
    EXPECT_EQ(board.a2d(1), 0x0155);
    EXPECT_FALSE(board.errflag());
    stop = true;
    device.join();
}

} // namespace
} // namespace zelto::faults
