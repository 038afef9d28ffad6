// The board object with the termios component over real pseudo-terminals, when the device goes
// away mid-member or the board answers nonsense.

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

// The test plays the board on the master: answers the opening, then runs the script.
class ScriptedBoard {
  public:
    ScriptedBoard(PtyPair& pty, std::function<void(PtyPair&)> script)
        : m_thread([&pty, script = std::move(script)] {
              if (pty.receive(2, 5s) != std::string("\x00\x01", 2))
                  return;
              pty.send("\x33");
              if (pty.receive(4, 5s).size() != 4)
                  return;
              script(pty);
          }) {}
    ~ScriptedBoard() { m_thread.join(); }
    ScriptedBoard(const ScriptedBoard&) = delete;
    ScriptedBoard& operator=(const ScriptedBoard&) = delete;

  private:
    std::thread m_thread;
};

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

TEST(PtyFaults, DeviceVanishingBetweenTheTwoReplyBytes) {
    PtyPair pty;
    ZeltoDLL board(std::make_unique<PosixSerial>(pty.path()), nullptr, Limits{1s, 1s, 1s});
    ScriptedBoard device(pty, [](PtyPair& p) {
        if (p.receive(1, 5s) != "\x30")
            return;
        p.send("\x03");
        std::this_thread::sleep_for(20ms);
        p.closeMaster();
    });
    board.portopen(true);
    const auto start = Clock::now();
    EXPECT_EQ(board.a2d(0), 0x0300);
    EXPECT_LT(Clock::now() - start, 500ms) << "the read waited out its limit on a gone device";
    EXPECT_TRUE(board.errflag());
    EXPECT_FALSE(PrimitiveAccess::busy(board));
    EXPECT_EQ(errorOf([&] { board.low(0); }), err::DeviceGone);
    board.portopen(false);
    EXPECT_EQ(errorOf([&] { board.low(0); }), err::DeviceUnavailable);
}

TEST(PtyFaults, DeviceVanishingDuringTheOpeningHandshake) {
    PtyPair pty;
    ZeltoDLL board(std::make_unique<PosixSerial>(pty.path()), nullptr, Limits{1s, 1s, 1s});
    std::thread device([&] {
        pty.receive(2, 5s);
        pty.closeMaster();
    });
    const auto start = Clock::now();
    EXPECT_EQ(errorOf([&] { board.portopen(true); }), err::DeviceGone);
    EXPECT_LT(Clock::now() - start, 2s) << "the handshake waited out its reads on a gone device";
    device.join();
    EXPECT_TRUE(board.errflag());
    EXPECT_TRUE(board.portopen());
    EXPECT_FALSE(PrimitiveAccess::busy(board));
    board.portopen(false);
    EXPECT_FALSE(board.portopen());
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
