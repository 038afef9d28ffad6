#pragma once

// What the benchmarks share: the simulator, the baselines' raw line, the rounds taken in turns and
// the way figures are summed up.

#include "sim_process.h"
#include "zeltodll.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace zelto::bench {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using sim::SimProcess;

constexpr int32_t kAnalog = 777;
constexpr auto kWait = 200ms;

long envNumber(const char* name, long fallback);

inline const int kRounds = static_cast<int>(envNumber("ZELTO_BENCH_ROUNDS", 7));
// This program, which runs the board object's side of the round trip in a process of its own.
inline std::string g_self;

// The simulator for a measurement: its log goes to a file, so that no reader thread of this
// process runs (and costs CPU) while a figure is measured.
inline SimProcess startSim(const std::vector<std::string>& options) {
    return SimProcess(options, true, SimProcess::Output::File, ZELTO_SIM_PATH);
}

double median(std::vector<double> v);
double seconds(Clock::duration d);
double processCpuSeconds();
const char* verdict(bool met);

// Runs a program and returns the numbers of its one line of output.
std::vector<double> runProgram(const std::vector<std::string>& args);

std::unique_ptr<ZeltoDLL> openBoard(const std::string& device);

// A private temporary folder, removed with its files.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string file(const std::string& name);

  private:
    std::string m_path;
    std::vector<std::string> m_files;
};

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
    int spinRead(int count) const { return readAnswer(count, false); }
    // Sleeps in poll() until count bytes have come: the least a sleeping wait costs.
    int pollRead(int count) const { return readAnswer(count, true); }
    // Reads the modem lines every period, sleeping in between, until clear-to-send is asserted:
    // the least a sampled wait costs.
    void sampleForCts(Clock::duration period) const { waitForCts(period); }
    // Reads the modem lines back to back until clear-to-send is asserted.
    void spinForCts() const { waitForCts(Clock::duration::zero()); }

  private:
    int readAnswer(int count, bool sleep) const {
        int value = 0;
        for (int got = 0; got < count;) {
            if (sleep) {
                pollfd p{m_fd, POLLIN, 0};
                ::poll(&p, 1, 1000);
            }
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
    void waitForCts(Clock::duration period) const {
        for (;;) {
            int status = 0;
            if (::ioctl(m_fd, TIOCMGET, &status) != 0)
                throw std::runtime_error("TIOCMGET failed");
            if (status & TIOCM_CTS)
                return;
            if (period > Clock::duration::zero())
                std::this_thread::sleep_for(period);
        }
    }

    int m_fd;
};

// One contender's round: wall time and process CPU per call, in microseconds.
struct Call {
    double us = 0;
    double cpuUs = 0;
};

Call floorA2d(const std::string& device, long calls);

using Round = std::vector<Call>;

// Runs each contender once per round with the order turned each round, so that on a noisy machine
// none always goes first and each round's ratios are taken between runs close in time.
std::vector<Round> inTurns(int rounds, const std::vector<std::function<Call()>>& runs);

double medianOver(const std::vector<Round>& rounds, const std::function<double(const Round&)>& f);
// The medians of contender k's time and CPU per call, and of each round's ratio of a's time to b's.
double medianTime(const std::vector<Round>& rounds, size_t k);
double medianCpu(const std::vector<Round>& rounds, size_t k);
double medianRatio(const std::vector<Round>& rounds, size_t a, size_t b);

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
void printWait(const char* what, const std::vector<Contender>& rows, size_t arrival);

// Measures f, which returns the time point from which its lateness counts.
Wait measure(const std::function<Clock::time_point()>& f);

// The benchmarks, one file each.
void boardA2d(const std::string& device, long calls);
void roundTrip();
void comRoundTrip();
void replyWait();
void ctsWait();
void pacing();
void wineWaits();
void networkRoundTrip();

} // namespace zelto::bench
