// The termios serial component against real pseudo-terminals, the test playing the far end.

#include "errors.h"
#include "posix_serial.h"
#include "pty_pair.h"
#include "test_support.h"
#include "zeltodll.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <dirent.h>
#include <functional>
#include <optional>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <time.h>

namespace zelto {
namespace {

using test::Clock;
using test::CtsFile;
using test::EmulatedModemLines;
using test::errorOf;
using test::PtyPair;
using namespace std::chrono_literals;

// Waits until the terminal holds at least count received bytes.
bool waitForInput(int fd, int count) {
    const auto deadline = Clock::now() + 2s;
    int waiting = 0;
    while (::ioctl(fd, FIONREAD, &waiting) == 0 && waiting < count) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(100us);
    }
    return waiting >= count;
}

struct OpenPort {
    PtyPair pty;
    PosixSerial port{pty.path()};
    OpenPort() {
        setUpBoardLine(port);
        port.setPortOpen(true);
    }
};

// The line rules every component shares are in tests/serial; these are the opening's own.
TEST(PosixSerialErrors, OpeningFailsWithTheCause) {
    const struct {
        const char* what;
        std::string path;
        int32_t number;
    } cases[] = {
        {"missing device", "/nonexistent/ttyX", err::NoSuchPort},
        {"not a terminal", "/dev/null", err::NoSuchPort},
        {"a directory", "/tmp", err::NoSuchPort},
        {"a path too long", "/dev/" + std::string(5000, 'x'), err::NoSuchPort},
        {"a name too long", "/dev/" + std::string(300, 'x'), err::NoSuchPort},
        {"the pseudo-terminal multiplexer", "/dev/ptmx", err::NoSuchPort},
    };
    for (const auto& c : cases) {
        PosixSerial port(c.path);
        try {
            port.setPortOpen(true);
            ADD_FAILURE() << c.what << " opened";
        } catch (const AutomationError& e) {
            EXPECT_EQ(e.number(), c.number) << c.what;
            EXPECT_EQ(e.hresult(), 0x800A0000u + c.number) << c.what;
            EXPECT_LE(std::string(e.what()).size(), 160u) << c.what << ": the text is too long";
            if (c.path.size() < 100) {
                EXPECT_NE(std::string(e.what()).find(c.path), std::string::npos) << e.what();
            }
        }
        EXPECT_FALSE(port.portOpen()) << c.what;
    }
}

TEST(PosixSerialErrors, UnreadableDeviceIsPermissionDenied) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root opens any file";
    char path[] = "/tmp/zelto-noperm-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    ::chmod(path, 0);
    EXPECT_EQ(errorOf([&] { PosixSerial(path).setPortOpen(true); }), err::PermissionDenied);
    std::remove(path);
}

TEST(PosixSerialPorts, NumberMapsToSerialDeviceAndPathTakesPrecedence) {
    EXPECT_EQ(PosixSerial::deviceForPort(1), "/dev/ttyS0");
    EXPECT_EQ(PosixSerial::deviceForPort(255), "/dev/ttyS254");
    PosixSerial port;
    EXPECT_EQ(port.devicePath(), "/dev/ttyS0");
    port.setCommPort(4);
    EXPECT_EQ(port.devicePath(), "/dev/ttyS3");
    port.setDevicePath("/dev/ttyUSB0");
    port.setCommPort(7);
    EXPECT_EQ(port.devicePath(), "/dev/ttyUSB0");
    EXPECT_EQ(port.commPort(), 7);
    port.setDevicePath("");
    EXPECT_EQ(port.devicePath(), "/dev/ttyS6");
}

TEST(PosixSerialOpen, OpenPortRefusesAnotherPathUntilClosed) {
    OpenPort p;
    EXPECT_EQ(errorOf([&] { p.port.setDevicePath("/dev/ttyS1"); }), err::PortAlreadyOpen);
    EXPECT_EQ(p.port.devicePath(), p.pty.path());
    p.port.setPortOpen(false);
    p.port.setPortOpen(true);
    p.port.setOutput("\x33");
    EXPECT_EQ(p.pty.receive(1, 1s), "\x33");
}

TEST(PosixSerialOpen, ExclusiveModeLastsWhileOpen) {
    OpenPort p;
    int exclusive = -1;
    ASSERT_EQ(::ioctl(p.pty.slave(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    p.port.setPortOpen(false);
    ASSERT_EQ(::ioctl(p.pty.slave(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0) << "a later opener without privileges would be refused";
}

TEST(PosixSerialOpen, AnotherProcessIsRefusedToo) {
    OpenPort p;
    const auto openInChild = [&] {
        const pid_t child = ::fork();
        if (child == 0) {
            PosixSerial other(p.pty.path());
            ::_exit(errorOf([&] { other.setPortOpen(true); }) == err::PortInUse ? 0 : 1);
        }
        int status = -1;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(openInChild(), 0) << "the other process was not refused";
}

TEST(PosixSerialOpen, BytesWaitingBeforeTheOpenAreDropped) {
    PtyPair pty;
    PosixSerial port(pty.path());
    setUpBoardLine(port);
    termios raw{};
    ::tcgetattr(pty.slave(), &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(pty.slave(), TCSANOW, &raw);
    pty.send("stale");
    ASSERT_TRUE(waitForInput(pty.slave(), 5));
    port.setPortOpen(true);
    EXPECT_EQ(port.input(20ms), "");
    pty.send("\x33");
    EXPECT_EQ(port.input(1s), "\x33");
}

TEST(PosixSerialLine, SettingsReachTheTerminal) {
    const struct {
        const char* settings;
        int16_t handshaking;
        speed_t speed;
        bool twoStop, rtscts, xonxoff;
    } cases[] = {
        {"57600,N,8,1", 2, B57600, false, true, false},
        {"9600,E,7,2", 0, B9600, true, false, false},
        {"115200,o,5,1", 1, B115200, false, false, true},
        {"1200,n,6,2", 3, B1200, true, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings);
        PtyPair pty;
        PosixSerial port(pty.path());
        port.setSettings(c.settings);
        port.setHandshaking(c.handshaking);
        port.setPortOpen(true);
        termios tio{};
        ASSERT_EQ(::tcgetattr(pty.slave(), &tio), 0);
        EXPECT_EQ(::cfgetospeed(&tio), c.speed);
        EXPECT_EQ(::cfgetispeed(&tio), c.speed);
        // A pseudo-terminal always keeps 8 data bits without parity, so size and parity cannot
        // be seen here.
        EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, c.twoStop);
        EXPECT_EQ((tio.c_cflag & CRTSCTS) != 0, c.rtscts);
        EXPECT_EQ((tio.c_iflag & IXON) != 0, c.xonxoff);
        EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u) << "not raw";
        EXPECT_EQ(tio.c_oflag & OPOST, 0u) << "output translated";
        EXPECT_NE(tio.c_cflag & CLOCAL, 0u);
    }
}

TEST(PosixSerialLine, ChangesWhileOpenApplyAtOnce) {
    OpenPort p;
    p.port.setSettings("19200,E,7,2");
    p.port.setHandshaking(0);
    termios tio{};
    ASSERT_EQ(::tcgetattr(p.pty.slave(), &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B19200));
    EXPECT_EQ(tio.c_cflag & (CSTOPB | CRTSCTS), static_cast<tcflag_t>(CSTOPB));
}

TEST(PosixSerialBytes, EveryByteValueCrossesBothWaysUnchanged) {
    OpenPort p;
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);

    p.port.setOutput(all);
    EXPECT_EQ(p.pty.receive(all.size(), 2s), all);

    p.pty.send(all);
    std::string got;
    while (got.size() < all.size()) {
        const Bytes one = p.port.input(1s);
        ASSERT_EQ(one.size(), 1u) << "after " << got.size() << " bytes";
        got += one;
    }
    EXPECT_EQ(got, all);
    EXPECT_EQ(p.port.input(), "");
}

TEST(PosixSerialBytes, InputLengthZeroTakesEverythingWaiting) {
    OpenPort p;
    p.port.setInputLen(0);
    p.pty.send("abc");
    ASSERT_TRUE(waitForInput(p.pty.slave(), 3));
    EXPECT_EQ(p.port.input(), "abc");
    p.port.setInputLen(2);
    p.pty.send("xyz");
    ASSERT_TRUE(waitForInput(p.pty.slave(), 3));
    EXPECT_EQ(p.port.input(1s), "xy");
    EXPECT_EQ(p.port.input(1s), "z");
}

TEST(PosixSerialBytes, BurstLargerThanTheKernelBufferArrivesWhole) {
    OpenPort p;
    std::string burst(1 << 20, '\0');
    for (size_t i = 0; i < burst.size(); ++i)
        burst[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    std::string received;
    std::thread drain([&] { received = p.pty.receive(burst.size(), 20s); });
    p.port.setOutput(burst);
    drain.join();
    EXPECT_EQ(received.size(), burst.size());
    EXPECT_TRUE(received == burst);
}

TEST(PosixSerialBytes, WriteHeldBackFailsLikeEveryComponent) {
    OpenPort p; // nobody reads the far end: the terminal's buffer fills and stays full
    const auto start = Clock::now();
    EXPECT_EQ(errorOf([&] { p.port.setOutput(std::string(1 << 20, 'x')); }), err::LinkTimeout);
    EXPECT_GE(Clock::now() - start, SerialBase::WriteHeldBackLimit);
}

TEST(PosixSerialWaits, PseudoTerminalWithoutModemLinesReportsClearToSend) {
    ::unsetenv("ZELTO_CTS_FILE");
    OpenPort p;
    const auto start = Clock::now();
    EXPECT_TRUE(p.port.ctsHolding(1s));
    EXPECT_LT(Clock::now() - start, 100ms);
}

// Whichever operation finds the device gone first, every one fails with 8105 until closing, the
// line too on a terminal without modem lines: reads because the system fails each of them, the
// line and writes also because a failed one of theirs is remembered.
TEST(PosixSerialGone, VanishedDeviceFailsEveryOperation) {
    const std::function<void(PosixSerial&)> operations[] = {
        [](PosixSerial& port) { port.ctsHolding(); },
        [](PosixSerial& port) { port.ctsHolding(1s); },
        [](PosixSerial& port) { port.input(); },
        [](PosixSerial& port) { port.input(1s); },
        [](PosixSerial& port) { port.setOutput("\x01"); },
    };
    for (size_t first = 0; first < std::size(operations); ++first) {
        SCOPED_TRACE("first operation " + std::to_string(first));
        OpenPort p;
        EXPECT_TRUE(p.port.ctsHolding());
        p.pty.closeMaster();
        EXPECT_EQ(errorOf([&] { operations[first](p.port); }), err::DeviceGone);
        // Each says which device went, the remembered finding too.
        for (const auto& operation : operations) {
            try {
                operation(p.port);
                ADD_FAILURE() << "no error";
            } catch (const AutomationError& e) {
                EXPECT_EQ(e.number(), err::DeviceGone);
                EXPECT_NE(std::string(e.what()).find(p.port.devicePath()), std::string::npos)
                    << e.what();
            }
        }
        EXPECT_TRUE(p.port.portOpen());
        p.port.setPortOpen(false);
        EXPECT_FALSE(p.port.portOpen());
    }
}

TEST(PosixSerialGone, WaitForInputEndsWhenTheDeviceVanishes) {
    OpenPort p;
    std::thread unplug([&] {
        std::this_thread::sleep_for(30ms);
        p.pty.closeMaster();
    });
    const auto start = Clock::now();
    EXPECT_EQ(errorOf([&] { p.port.input(10s); }), err::DeviceGone);
    unplug.join();
    EXPECT_LT(Clock::now() - start, 2s);
}

// The tests below need the modem-line emulation preloaded (see sim/modemlines).

int modemLines(int fd) {
    int status = 0;
    if (::ioctl(fd, TIOCMGET, &status) != 0)
        ADD_FAILURE() << "TIOCMGET failed: " << errno;
    return status;
}

double threadCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

TEST(PosixSerialModemLines, DataTerminalReadyAndRequestToSendFollowTheirEnables) {
    CtsFile cts;
    cts.set(true);
    EmulatedModemLines lines(cts.path());
    OpenPort p;
    EXPECT_EQ(modemLines(p.pty.slave()) & (TIOCM_DTR | TIOCM_RTS), TIOCM_DTR | TIOCM_RTS);
    p.port.setDTREnable(false);
    EXPECT_EQ(modemLines(p.pty.slave()) & (TIOCM_DTR | TIOCM_RTS), TIOCM_RTS);
    p.port.setRTSEnable(false);
    EXPECT_EQ(modemLines(p.pty.slave()) & (TIOCM_DTR | TIOCM_RTS), 0);
    p.port.setPortOpen(false);
    p.port.setDTREnable(true);
    p.port.setPortOpen(true);
    EXPECT_EQ(modemLines(p.pty.slave()) & (TIOCM_DTR | TIOCM_RTS), TIOCM_DTR);
}

TEST(PosixSerialModemLines, LowLineWaitsTheWholeTimeAtLittleCost) {
    CtsFile cts;
    cts.set(false);
    EmulatedModemLines lines(cts.path());
    OpenPort p;
    const double cpuBefore = threadCpuSeconds();
    const auto start = Clock::now();
    EXPECT_FALSE(p.port.ctsHolding(300ms));
    const auto waited = Clock::now() - start;
    const double cpu = threadCpuSeconds() - cpuBefore;
    EXPECT_GE(waited, 300ms);
    EXPECT_LT(waited, 600ms);
    EXPECT_LT(cpu, 0.3 * 0.3) << "the wait spins";
}

TEST(PosixSerialModemLines, WaitEndsSoonAfterTheLineRises) {
    CtsFile cts;
    cts.set(false);
    EmulatedModemLines lines(cts.path());
    OpenPort p;
    std::vector<Clock::duration> lags;
    for (int round = 0; round < 5; ++round) {
        cts.set(false);
        Clock::time_point raised;
        std::thread board([&] {
            std::this_thread::sleep_for(20ms);
            raised = Clock::now();
            cts.set(true);
        });
        const bool up = p.port.ctsHolding(5s);
        const auto woke = Clock::now();
        board.join();
        ASSERT_TRUE(up);
        lags.push_back(woke - raised);
    }
    std::sort(lags.begin(), lags.end());
    EXPECT_LT(lags[lags.size() / 2], 3ms) << "median lag after the rise";
    EXPECT_LT(lags.back(), 50ms);
}

int entriesIn(const char* directory) {
    DIR* d = ::opendir(directory);
    int count = 0;
    while (::readdir(d) != nullptr)
        ++count;
    ::closedir(d);
    return count;
}

// A joined thread leaves /proc a moment after the join returns.
bool settlesTo(const char* directory, int count) {
    for (int i = 0; i < 100 && entriesIn(directory) != count; ++i)
        std::this_thread::sleep_for(10ms);
    return entriesIn(directory) == count;
}

void doNothing(int) {}

// Gives every real-time signal one disposition for the life of the object.
class RealTimeSignals {
  public:
    RealTimeSignals(void (*handler)(int), int flags) {
        struct sigaction action {};
        action.sa_handler = handler;
        action.sa_flags = flags;
        sigemptyset(&action.sa_mask);
        for (int s = SIGRTMIN; s <= SIGRTMAX; ++s)
            ::sigaction(s, &action, &m_old[s - SIGRTMIN]);
    }
    ~RealTimeSignals() {
        for (int s = SIGRTMIN; s <= SIGRTMAX; ++s)
            ::sigaction(s, &m_old[s - SIGRTMIN], nullptr);
    }

  private:
    struct sigaction m_old[64]{};
};

// Closing ends the waiter thread whatever the program did with its signals after the thread
// started: it returns at once, the process lives, and the port and its lock are free.
TEST(PosixSerialModemLines, ClosingDuringAWaitIsBoundedWhateverTheSignals) {
    const struct {
        const char* what;
        void (*handler)(int);
        int flags;
    } cases[] = {
        {"signals untouched", nullptr, 0},
        {"ignored", SIG_IGN, 0},
        {"default", SIG_DFL, 0},
        {"handler with SA_RESTART", doNothing, SA_RESTART},
    };
    CtsFile cts;
    cts.set(false);
    EmulatedModemLines lines(cts.path());
    OpenPort p;
    const int threads = entriesIn("/proc/self/task");
    const int fds = entriesIn("/proc/self/fd");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (!p.port.portOpen())
            p.port.setPortOpen(true);
        EXPECT_FALSE(p.port.ctsHolding(20ms)); // the waiter thread is running now
        std::optional<RealTimeSignals> signals;
        if (c.handler != nullptr)
            signals.emplace(c.handler, c.flags);
        const auto start = Clock::now();
        p.port.setPortOpen(false);
        EXPECT_LT(Clock::now() - start, 500ms) << "closing hangs";
        EXPECT_TRUE(settlesTo("/proc/self/task", threads)) << "a waiter thread was left";
        PosixSerial other(p.pty.path());
        EXPECT_EQ(errorOf([&] { other.setPortOpen(true); }), 0) << "the port stayed locked";
    }
    p.port.setPortOpen(true);
    EXPECT_TRUE(settlesTo("/proc/self/fd", fds)) << "a descriptor was left";
}

} // namespace
} // namespace zelto
