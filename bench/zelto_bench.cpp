// The benchmarks of the board object. Every figure is printed as a ratio against a baseline
// measured in the same run, against the same simulated board on a real pseudo-terminal.
//
//   zelto-bench roundtrip    a2d calls per second: board object, raw termios floor, python peer
//   zelto-bench com-roundtrip the same through the automation server under Wine, against the floor
//   zelto-bench reply-wait   CPU and lateness while a member waits 200 ms for a late reply
//   zelto-bench cts-wait     the same while the link waits 200 ms for clear-to-send (needs the
//                            modem-line emulation preloaded)
//   zelto-bench pacing       1000 high calls against a board paced at 57600 baud
//
// Environment: ZELTO_BENCH_CALLS (round-trip calls per round, 1000), ZELTO_BENCH_ROUNDS (rounds
// per figure, 7; the round trip runs six times as many), ZELTO_BENCH_PYTHON (the interpreter with
// the serial package, /usr/bin/python3).

#include "posix_serial.h"
#include "sim_runner.h"
#include "zeltodll.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace zelto::bench {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int32_t kAnalog = 777;
constexpr auto kWait = 200ms;

long envNumber(const char* name, long fallback) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0' ? std::atol(v) : fallback;
}

const int kRounds = static_cast<int>(envNumber("ZELTO_BENCH_ROUNDS", 7));

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double processCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

const char* verdict(bool met) {
    return met ? "met" : "MISSED";
}

// Runs a program and returns the numbers of its one line of output.
std::vector<double> runProgram(const std::vector<std::string>& args) {
    std::string command;
    for (const std::string& a : args)
        command += "'" + a + "' ";
    std::FILE* p = ::popen(command.c_str(), "r");
    if (p == nullptr)
        throw std::runtime_error("cannot run " + args[0]);
    char line[256] = {};
    const bool got = std::fgets(line, sizeof line, p) != nullptr;
    if (::pclose(p) != 0 || !got)
        throw std::runtime_error(args[0] + " failed");
    std::vector<double> out;
    char* at = line;
    for (;;) {
        char* end = nullptr;
        const double v = std::strtod(at, &end);
        if (end == at)
            break;
        out.push_back(v);
        at = end;
    }
    return out;
}

std::unique_ptr<ZeltoDLL> openBoard(const std::string& device) {
    auto board = std::make_unique<ZeltoDLL>(std::make_unique<PosixSerial>(device));
    board->portopen(true);
    return board;
}

// A raw descriptor on the device, non-blocking, for the baselines of the waits.
class RawLine {
  public:
    explicit RawLine(const std::string& device)
        : m_fd(::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
        if (m_fd < 0)
            throw std::runtime_error("cannot open " + device);
        termios t{};
        ::tcgetattr(m_fd, &t);
        ::cfmakeraw(&t);
        ::cfsetispeed(&t, B57600);
        ::cfsetospeed(&t, B57600);
        t.c_cflag |= CLOCAL | CREAD | CRTSCTS;
        ::tcsetattr(m_fd, TCSANOW, &t);
        ::tcflush(m_fd, TCIFLUSH);
    }
    ~RawLine() { ::close(m_fd); }
    RawLine(const RawLine&) = delete;
    RawLine& operator=(const RawLine&) = delete;

    void put(unsigned char byte) const {
        if (::write(m_fd, &byte, 1) != 1)
            throw std::runtime_error("write failed");
    }
    // Reads back to back until count bytes have come: the loop a busy-polling library runs.
    int spinRead(int count) const {
        int value = 0;
        for (int got = 0; got < count;) {
            unsigned char b = 0;
            const ssize_t n = ::read(m_fd, &b, 1);
            if (n == 1) {
                value = value * 256 + b;
                ++got;
            } else if (n == 0 || errno != EAGAIN) {
                throw std::runtime_error("read failed");
            }
        }
        return value;
    }
    // Sleeps in poll() until count bytes have come: the least a sleeping wait costs.
    int pollRead(int count) const {
        int value = 0;
        for (int got = 0; got < count;) {
            pollfd p{m_fd, POLLIN, 0};
            ::poll(&p, 1, 1000);
            unsigned char b = 0;
            const ssize_t n = ::read(m_fd, &b, 1);
            if (n == 1) {
                value = value * 256 + b;
                ++got;
            } else if (n == 0 || errno != EAGAIN) {
                throw std::runtime_error("read failed");
            }
        }
        return value;
    }
    // Reads the modem lines every period, sleeping in between, until clear-to-send is asserted:
    // the least a sampled wait costs.
    void sampleForCts(Clock::duration period) const {
        for (;;) {
            int status = 0;
            if (::ioctl(m_fd, TIOCMGET, &status) != 0)
                throw std::runtime_error("TIOCMGET failed");
            if (status & TIOCM_CTS)
                return;
            std::this_thread::sleep_for(period);
        }
    }
    // Reads the modem lines back to back until clear-to-send is asserted.
    void spinForCts() const {
        for (;;) {
            int status = 0;
            if (::ioctl(m_fd, TIOCMGET, &status) != 0)
                throw std::runtime_error("TIOCMGET failed");
            if (status & TIOCM_CTS)
                return;
        }
    }

  private:
    int m_fd;
};

std::string g_self;

// The board object's side of the round trip: prints the ns per call and the last answer.
void boardA2d(const std::string& device, long calls) {
    auto b = openBoard(device);
    for (int i = 0; i < 200; ++i) // warm-up, as the others
        b->a2d(0);
    int32_t value = 0;
    const auto start = Clock::now();
    const std::clock_t cpu = std::clock();
    for (long i = 0; i < calls; ++i) {
        value = b->a2d(0);
        if (b->errflag())
            throw std::runtime_error("a reply was lost");
    }
    const double cpuNs = static_cast<double>(std::clock() - cpu) * 1e9 / CLOCKS_PER_SEC;
    const double ns = seconds(Clock::now() - start) * 1e9 / static_cast<double>(calls);
    std::printf("%.1f %d %.1f\n", ns, value, cpuNs / static_cast<double>(calls));
}

// One contender's round: wall time and process CPU per call, in microseconds.
struct Call {
    double us = 0;
    double cpuUs = 0;
};

Call floorA2d(const std::string& device, long calls) {
    auto f = runProgram({ZELTO_FLOOR_PATH, device, "a2d", std::to_string(calls)});
    if (f.size() != 3 || f[1] != kAnalog)
        throw std::runtime_error("the floor got a wrong answer");
    return Call{f[0] / 1e3, f[2] / 1e3};
}

using Round = std::vector<Call>;

// Runs each contender once per round with the order turned each round, so that on a noisy machine
// none always goes first and each round's ratios are taken between runs close in time.
std::vector<Round> inTurns(int rounds, const std::vector<std::function<Call()>>& runs) {
    std::vector<Round> out;
    for (int round = 0; round < rounds; ++round) {
        Round results(runs.size());
        for (size_t k = 0; k < runs.size(); ++k) {
            const size_t i = (static_cast<size_t>(round) + k) % runs.size();
            results[i] = runs[i]();
        }
        out.push_back(std::move(results));
    }
    return out;
}

double medianOver(const std::vector<Round>& rounds, const std::function<double(const Round&)>& f) {
    std::vector<double> v;
    for (const Round& r : rounds)
        v.push_back(f(r));
    return median(v);
}

void roundTrip() {
    const long calls = envNumber("ZELTO_BENCH_CALLS", 1000);
    const int rounds = 6 * kRounds;
    const char* python = std::getenv("ZELTO_BENCH_PYTHON");
    const std::string interpreter = python != nullptr && *python ? python : "/usr/bin/python3";
    SimRunner sim(ZELTO_SIM_PATH, {"--analog", "0=" + std::to_string(kAnalog)});

    auto floorRun = [&] { return floorA2d(sim.device(), calls); };
    // The board object runs in a process of its own too, started the same way as the others.
    auto boardRun = [&] {
        auto b = runProgram({g_self, "board-a2d", sim.device(), std::to_string(calls)});
        if (b.size() != 3 || b[1] != kAnalog)
            throw std::runtime_error("the board object got a wrong answer");
        return Call{b[0] / 1e3, b[2] / 1e3};
    };
    auto peerRun = [&] {
        auto p = runProgram({interpreter, ZELTO_PEER_SCRIPT, sim.device(), std::to_string(calls)});
        if (p.size() != 3 || p[1] != kAnalog)
            throw std::runtime_error("the python peer got a wrong answer");
        return Call{p[0] / 1e3, p[2] / 1e3};
    };
    enum { Floor, Board, Peer };
    const auto r = inTurns(rounds, {floorRun, boardRun, peerRun});
    const double fl = medianOver(r, [](const Round& c) { return c[Floor].us; });
    const double bo = medianOver(r, [](const Round& c) { return c[Board].us; });
    const double py = medianOver(r, [](const Round& c) { return c[Peer].us; });
    const double boardToFloor =
        medianOver(r, [](const Round& c) { return c[Board].us / c[Floor].us; });
    const double peerToBoard =
        medianOver(r, [](const Round& c) { return c[Peer].us / c[Board].us; });
    const double floorCpu = medianOver(r, [](const Round& c) { return c[Floor].cpuUs; });
    const double boardCpu = medianOver(r, [](const Round& c) { return c[Board].cpuUs; });
    const double peerCpu = medianOver(r, [](const Round& c) { return c[Peer].cpuUs; });
    std::printf("Round trip: a2d(0) over a pseudo-terminal to zelto-sim, %d rounds of %ld calls "
                "(medians; ratios are medians of each round's ratio)\n",
                rounds, calls);
    std::printf("  %-26s %8.1f us/call %8.0f calls/s   1.00\n", "raw termios (floor)", fl,
                1e6 / fl);
    std::printf("  %-26s %8.1f us/call %8.0f calls/s   %.2f x the floor's time per call "
                "(target <= 1.20: %s)\n",
                "board object (native)", bo, 1e6 / bo, boardToFloor, verdict(boardToFloor <= 1.2));
    std::printf("  %-26s %8.1f us/call %8.0f calls/s   %.2f x the board object's time per call "
                "(target: the board object faster, > 1.00: %s)\n",
                "python3-serial peer", py, 1e6 / py, peerToBoard, verdict(peerToBoard > 1));
    std::printf("  process CPU per call: floor %.1f us, board object %.1f us (%.2f x the floor), "
                "python peer %.1f us (%.2f x the board object)\n",
                floorCpu, boardCpu, boardCpu / floorCpu, peerCpu, peerCpu / boardCpu);
}

// The same exchange through the automation server under Wine: a late-bound Windows client
// (com_roundtrip.cpp) calls a2d(0) on COM1, which the prefix maps to ZELTO_COM_LINK; the
// simulator serves its pseudo-terminal there. ZELTO_COM_CLIENT is the command that runs the
// client under Wine (words separated by blanks).
void comRoundTrip() {
    const char* link = std::getenv("ZELTO_COM_LINK");
    const char* client = std::getenv("ZELTO_COM_CLIENT");
    if (link == nullptr || client == nullptr)
        throw std::runtime_error("com-roundtrip needs ZELTO_COM_LINK and ZELTO_COM_CLIENT");
    const long calls = envNumber("ZELTO_BENCH_CALLS", 1000);
    SimRunner sim(ZELTO_SIM_PATH, {"--link", link, "--analog", "0=" + std::to_string(kAnalog)});
    std::vector<std::string> clientArgs;
    for (const char* at = client; *at != '\0';) {
        const char* end = std::strchr(at, ' ');
        const std::string word = end ? std::string(at, end) : std::string(at);
        if (!word.empty())
            clientArgs.push_back(word);
        at = end ? end + 1 : at + word.size();
    }
    clientArgs.push_back(std::to_string(calls));

    auto floorRun = [&] { return floorA2d(sim.device(), calls); };
    // The client times its own calls, after a warm-up: Wine's start-up is not counted.
    auto clientRun = [&](bool raw) {
        std::vector<std::string> args = clientArgs;
        if (raw)
            args.insert(args.end() - 1, "raw");
        auto c = runProgram(args);
        if (c.size() != 2 || c[1] != kAnalog)
            throw std::runtime_error("the Windows client got a wrong answer");
        return Call{c[0] / 1e3, 0};
    };
    enum { Floor, Win32, Com };
    const auto r = inTurns(
        kRounds, {floorRun, [&] { return clientRun(true); }, [&] { return clientRun(false); }});
    const double fl = medianOver(r, [](const Round& c) { return c[Floor].us; });
    const double wi = medianOver(r, [](const Round& c) { return c[Win32].us; });
    const double co = medianOver(r, [](const Round& c) { return c[Com].us; });
    const double ratio = medianOver(r, [](const Round& c) { return c[Com].us / c[Floor].us; });
    const double overWin32 = medianOver(r, [](const Round& c) { return c[Com].us / c[Win32].us; });
    std::printf("Round trip through the automation server under Wine: a2d(0) by DISPID on COM1, "
                "%d rounds of %ld calls (medians; the ratios are medians of each round's)\n",
                kRounds, calls);
    std::printf("  %-26s %8.1f us/call %8.0f calls/s   1.00\n", "raw termios (floor)", fl,
                1e6 / fl);
    std::printf("  %-26s %8.1f us/call %8.0f calls/s   %.2f x the floor\n", "bare Win32 under Wine",
                wi, 1e6 / wi, wi / fl);
    std::printf("  %-26s %8.1f us/call %8.0f calls/s   %.2f x the floor's time per call "
                "(target <= 2.00: %s), %.2f x the bare Win32 exchange\n",
                "COM object under Wine", co, 1e6 / co, ratio, verdict(ratio <= 2), overWin32);
}

struct Wait {
    double cpu;  // seconds of process CPU while waiting
    double late; // seconds from the expected end of the wait to the return
};

struct Contender {
    const char* name;
    std::vector<Wait> waits;
    double cpu() const { return pick(&Wait::cpu); }
    double late() const { return pick(&Wait::late); }
    double pick(double Wait::*field) const {
        std::vector<double> v;
        for (const Wait& w : waits)
            v.push_back(w.*field);
        return median(v);
    }
};

// The first contender is the busy poll, the last the board object; `arrival` is the one whose
// return best tells when the byte or the line change actually reached this side.
void printWait(const char* what, const std::vector<Contender>& rows, size_t arrival) {
    const double wait = seconds(kWait);
    const Contender& busy = rows.front();
    const Contender& board = rows.back();
    std::printf("Cost of waiting: %s, median of %d rounds\n", what, kRounds);
    for (const Contender& c : rows)
        std::printf("  %-34s CPU %8.3f ms = %6.2f %% of the wait = %.4f x the busy poll's; "
                    "returned %.3f ms after the change\n",
                    c.name, c.cpu() * 1e3, 100 * c.cpu() / wait, c.cpu() / busy.cpu(),
                    c.late() * 1e3);
    const double late = board.late() - rows[arrival].late();
    std::printf("  board object: CPU %.2f %% of the wait (target <= 1 %%: %s); returned %.3f ms "
                "after the %s did (target <= 1 ms: %s)\n",
                100 * board.cpu() / wait, verdict(board.cpu() / wait <= 0.01), late * 1e3,
                rows[arrival].name, verdict(late <= 1e-3));
}

// Measures f, which returns the time point from which its lateness counts.
Wait measure(const std::function<Clock::time_point()>& f) {
    const double cpu0 = processCpuSeconds();
    const Clock::time_point changed = f();
    const auto end = Clock::now();
    return {processCpuSeconds() - cpu0, seconds(end - changed)};
}

void replyWait() {
    SimRunner sim(ZELTO_SIM_PATH, {"--analog", "0=" + std::to_string(kAnalog)});
    Contender busy{"busy poll (reads back to back)", {}};
    Contender sleeper{"raw poll() (sleeps until the byte)", {}};
    Contender board{"board object, a2d(0)", {}};
    for (int round = 0; round < kRounds; ++round) {
        sim.control("delay " + std::to_string(kWait.count()));
        {
            RawLine raw(sim.device());
            busy.waits.push_back(measure([&] {
                const auto start = Clock::now();
                raw.put(0x30);
                if (raw.spinRead(2) != kAnalog)
                    throw std::runtime_error("the busy poll got a wrong answer");
                return start + kWait;
            }));
            sleeper.waits.push_back(measure([&] {
                const auto start = Clock::now();
                raw.put(0x30);
                if (raw.pollRead(2) != kAnalog)
                    throw std::runtime_error("the raw poll got a wrong answer");
                return start + kWait;
            }));
        }
        sim.control("delay 0");
        auto b = openBoard(sim.device());
        sim.control("delay " + std::to_string(kWait.count()));
        board.waits.push_back(measure([&] {
            const auto start = Clock::now();
            if (b->a2d(0) != kAnalog || b->errflag())
                throw std::runtime_error("the board object got a wrong answer");
            return start + kWait;
        }));
        sim.control("delay 0");
    }
    printWait("a member waiting 200 ms for a late reply (zelto-sim delay 200; the change is the "
              "moment the delay ends)",
              {busy, sleeper, board}, 1);
}

void ctsWait() {
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload == nullptr || std::strstr(preload, "zeltomodemlines") == nullptr)
        throw std::runtime_error("cts-wait needs the modem-line emulation in LD_PRELOAD");
    TempDir dir;
    const std::string cts = dir.file("cts");
    ::setenv("ZELTO_CTS_FILE", cts.c_str(), 1);
    SimRunner sim(ZELTO_SIM_PATH, {"--cts-file", cts});
    // The line rises kWait after the wait began; lateness counts from the moment the simulator
    // was told (a little before the line actually changes, so it is overstated if anything).
    auto raiseLater = [&](Clock::time_point& told) {
        return std::thread([&] {
            std::this_thread::sleep_for(kWait);
            told = Clock::now();
            sim.send("cts high");
        });
    };
    Contender busy{"busy poll (reads back to back)", {}};
    Contender sampler{"sampling every 1 ms (sleeping)", {}};
    Contender board{"board object, high(0)", {}};
    for (int round = 0; round < kRounds; ++round) {
        {
            RawLine raw(sim.device());
            sim.control("cts low");
            busy.waits.push_back(measure([&] {
                Clock::time_point told;
                std::thread t = raiseLater(told);
                raw.spinForCts();
                raw.put(0x11);
                t.join();
                return told;
            }));
            sim.control("cts low");
            sampler.waits.push_back(measure([&] {
                Clock::time_point told;
                std::thread t = raiseLater(told);
                raw.sampleForCts(1ms);
                raw.put(0x11);
                t.join();
                return told;
            }));
        }
        auto b = openBoard(sim.device());
        sim.control("cts low");
        board.waits.push_back(measure([&] {
            Clock::time_point told;
            std::thread t = raiseLater(told);
            b->high(0);
            t.join();
            return told;
        }));
        if (!b->ready())
            throw std::runtime_error("the link was left claimed");
    }
    printWait("the link waiting 200 ms for clear-to-send (zelto-sim cts low, then cts high; the "
              "change is the moment the simulator is told)",
              {busy, sampler, board}, 0);
}

void pacing() {
    constexpr int kCalls = 1000;
    // The high commands, then ok, whose answer tells that the board has taken them all; the
    // simulator sends a lone answer byte at once, so the bytes on the wire are the commands.
    constexpr int kBytes = kCalls + 1;
    const double wire = kBytes * 10.0 / 57600;
    SimRunner sim(ZELTO_SIM_PATH, {"--pace"});
    std::vector<double> floor, board;
    for (int round = 0; round < kRounds; ++round) {
        auto f = runProgram({ZELTO_FLOOR_PATH, sim.device(), "high", std::to_string(kCalls)});
        if (f.size() != 2 || f[1] != 51)
            throw std::runtime_error("the floor got a wrong answer");
        floor.push_back(f[0] / 1e9);

        auto b = openBoard(sim.device());
        const auto start = Clock::now();
        for (int i = 0; i < kCalls; ++i)
            b->high(0);
        if (!b->ok())
            throw std::runtime_error("the board did not answer ok");
        board.push_back(seconds(Clock::now() - start));
    }
    const double fl = median(floor), bo = median(board);
    std::printf("Wire pacing: %d high calls then ok, zelto-sim --pace (the board takes and sends "
                "one byte per 10 bit times at 57600 baud), median of %d rounds\n",
                kCalls, kRounds);
    std::printf("  %-26s %8.1f ms   1.00\n", "wire time of the bytes", wire * 1e3);
    std::printf("  %-26s %8.1f ms   %.3f x the wire time\n", "raw termios (floor)", fl * 1e3,
                fl / wire);
    std::printf("  %-26s %8.1f ms   %.3f x the wire time (target <= 1.05: %s), %.3f x the "
                "floor\n",
                "board object", bo * 1e3, bo / wire, verdict(bo / wire <= 1.05), bo / fl);
}

} // namespace
} // namespace zelto::bench

int main(int argc, char** argv) {
    using namespace zelto::bench;
    const std::string what = argc > 1 ? argv[1] : "";
    g_self = argv[0];
    try {
        if (what == "board-a2d" && argc == 4)
            boardA2d(argv[2], std::atol(argv[3]));
        else if (what == "roundtrip")
            roundTrip();
        else if (what == "com-roundtrip")
            comRoundTrip();
        else if (what == "reply-wait")
            replyWait();
        else if (what == "cts-wait")
            ctsWait();
        else if (what == "pacing")
            pacing();
        else {
            std::fprintf(stderr,
                         "usage: zelto-bench roundtrip|com-roundtrip|reply-wait|cts-wait|pacing\n");
            return 2;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zelto-bench %s: %s\n", what.c_str(), e.what());
        return 1;
    }
    std::fflush(stdout);
    return 0;
}
