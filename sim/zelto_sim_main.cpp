// zelto-sim: serves a simulated I/O board on a pseudo-terminal.

#include "board_model.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <numbers>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using zelto::Bytes;
using zelto::sim::BoardModel;

// One byte at 57600 baud with 8N1 framing takes ten bit times.
constexpr auto ByteTime = std::chrono::nanoseconds(1'000'000'000LL * 10 / 57600);
constexpr uint8_t StrayByte = 0xFF;
constexpr double DriftDegrees = 3.0;
constexpr double DriftPeriodSeconds = 60.0;

const char* const Usage = R"(Usage: zelto-sim [options]

Serves a simulated I/O board on a pseudo-terminal. The first line on standard output is the
device to open (57600 8N1); each line after it is one command the board decoded, with its bytes
and the board's answer, e.g.
  30          a2d pin 0 -> 03 FF
Lines that begin with "#" answer control commands. Errors go to standard error.

Options:
  --link PATH         also make PATH a symbolic link to the device (removed on exit)
  --analog PIN=VALUE  value of analog input PIN (0..7) answered to a2d, 0..65535 (repeatable)
  --temperature F     a temperature sensor (10 mV per degree F) on analog input 0 that drifts
                      by 3 F either side of F over 60 s; overrides --analog 0=...
  --delay MS          wait MS milliseconds before answering
  --silent            take the commands but never answer
  --stray N           send N stray bytes (FF) before the answer 51 of the opening handshake
                      (the command 01 right after 00)
  --pace              take commands and send answers at the byte rate of the line (about
                      174 us per byte)
  --cts-file PATH     signal clear-to-send through PATH: it holds "1" while asserted and "0"
                      while not; written whole (via PATH.tmp and a rename); "1" at start, "0" on
                      exit
  --help              show this text

Control commands, one per line on standard input (the program keeps running when input ends):
  analog PIN VALUE      set analog input PIN (for pin 0 this stops the temperature drift)
  temperature F         drive analog input 0 from a drifting temperature around F
  input PIN 0|1         level applied from outside to PIN, read when PIN is an input
  count V | pulsein V | rctime V | counter V
                        the answer to the next count, pulsein, rctime, counter read
  silent on|off   delay MS   stray N   pace on|off
  cts low|high          change clear-to-send (needs --cts-file)
  state                 print the board's state
  quit                  end, as on SIGINT or SIGTERM

Ends cleanly with status 0 on SIGINT, SIGTERM or quit; 2 for bad options; 1 on failure.
)";

int g_signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char c = 1;
    ssize_t ignored = write(g_signalPipe[1], &c, 1);
    (void)ignored;
}

bool parseInt(const std::string& text, long min, long max, long& out) {
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max)
        return false;
    out = v;
    return true;
}

bool parseDouble(const std::string& text, double& out) {
    if (text.empty())
        return false;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(v))
        return false;
    out = v;
    return true;
}

struct Options {
    std::string link;
    std::vector<std::pair<int, int>> analog;
    std::optional<double> temperature;
    long delayMs = 0;
    bool silent = false;
    long stray = 0;
    bool pace = false;
    std::string ctsFile;
};

[[noreturn]] void usageError(const std::string& message) {
    std::fprintf(stderr, "zelto-sim: %s\nTry 'zelto-sim --help'.\n", message.c_str());
    std::exit(2);
}

Options parseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool hasValue = false;
        if (auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasValue = true;
        }
        auto next = [&]() -> std::string {
            if (hasValue)
                return value;
            if (i + 1 >= argc)
                usageError(arg + " needs a value");
            return argv[++i];
        };
        long n = 0;
        if (arg == "--help" || arg == "-h") {
            std::fputs(Usage, stdout);
            std::exit(0);
        } else if (arg == "--link") {
            o.link = next();
        } else if (arg == "--analog") {
            const std::string v = next();
            const auto eq = v.find('=');
            long pin = 0;
            if (eq == std::string::npos || !parseInt(v.substr(0, eq), 0, 7, pin) ||
                !parseInt(v.substr(eq + 1), 0, 65535, n))
                usageError("--analog wants PIN=VALUE with PIN 0..7 and VALUE 0..65535");
            o.analog.emplace_back(static_cast<int>(pin), static_cast<int>(n));
        } else if (arg == "--temperature") {
            double f = 0;
            if (!parseDouble(next(), f))
                usageError("--temperature wants a number");
            o.temperature = f;
        } else if (arg == "--delay") {
            if (!parseInt(next(), 0, 600000, o.delayMs))
                usageError("--delay wants 0..600000");
        } else if (arg == "--stray") {
            if (!parseInt(next(), 0, 10000, o.stray))
                usageError("--stray wants 0..10000");
        } else if (arg == "--cts-file") {
            o.ctsFile = next();
        } else if (arg == "--silent" && !hasValue) {
            o.silent = true;
        } else if (arg == "--pace" && !hasValue) {
            o.pace = true;
        } else {
            usageError("unknown option " + arg);
        }
    }
    return o;
}

class Simulator {
  public:
    explicit Simulator(Options options) : m_opt(std::move(options)) {}
    int run();

  private:
    bool openPty();
    bool writeCts(bool asserted);
    void updateTemperature();
    void received(const char* data, std::size_t size);
    // Bytes read from the device; when paced, the board takes them one byte time apart.
    void arrived(const char* data, std::size_t size);
    void takeDue();
    std::optional<Clock::time_point> nextWake() const;
    void enqueue(const Bytes& bytes);
    Clock::time_point dueTime() const;
    bool flush();
    void control(const std::string& line);
    void printState();
    void cleanup();

    Options m_opt;
    BoardModel m_model;
    int m_master = -1;
    int m_slave = -1;
    std::string m_device;
    bool m_linked = false;
    std::deque<std::pair<uint8_t, Clock::time_point>> m_out;
    std::deque<std::pair<uint8_t, Clock::time_point>> m_in; // read, not yet taken by the board
    Clock::time_point m_lastTaken{};
    Clock::time_point m_lastSent{};
    bool m_writeBlocked = false;
    Clock::time_point m_start = Clock::now();
    uint8_t m_previousCommand = 0x80; // no command yet
    bool m_running = true;
};

bool Simulator::openPty() {
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
        return false;
    const char* name = ptsname(m_master);
    if (name == nullptr)
        return false;
    m_device = name;
    // Holding the other end open keeps the master readable while no client has the device open.
    m_slave = open(m_device.c_str(), O_RDWR | O_NOCTTY);
    if (m_slave < 0)
        return false;
    termios t{};
    if (tcgetattr(m_slave, &t) != 0)
        return false;
    cfmakeraw(&t);
    cfsetispeed(&t, B57600);
    cfsetospeed(&t, B57600);
    t.c_cflag |= CLOCAL | CREAD;
    if (tcsetattr(m_slave, TCSANOW, &t) != 0)
        return false;
    return fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK) == 0;
}

bool Simulator::writeCts(bool asserted) {
    if (m_opt.ctsFile.empty())
        return true;
    const std::string tmp = m_opt.ctsFile + ".tmp";
    const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    const char c = asserted ? '1' : '0';
    const bool ok = write(fd, &c, 1) == 1;
    return close(fd) == 0 && ok && rename(tmp.c_str(), m_opt.ctsFile.c_str()) == 0;
}

void Simulator::updateTemperature() {
    if (!m_opt.temperature)
        return;
    const double t = std::chrono::duration<double>(Clock::now() - m_start).count();
    const double f =
        *m_opt.temperature + DriftDegrees * std::sin(2 * std::numbers::pi * t / DriftPeriodSeconds);
    // A 10 mV per degree sensor on a 5 V, 10-bit converter.
    m_model.state().analog[0] =
        static_cast<uint16_t>(std::clamp(std::lround(f * 1023 / 500), 0L, 1023L));
}

void Simulator::enqueue(const Bytes& bytes) {
    const auto when = Clock::now() + std::chrono::milliseconds(m_opt.delayMs);
    for (char c : bytes)
        m_out.emplace_back(static_cast<uint8_t>(c), when);
}

void Simulator::received(const char* data, std::size_t size) {
    updateTemperature();
    for (std::size_t i = 0; i < size; ++i) {
        m_model.feed(static_cast<uint8_t>(data[i]));
        for (const BoardModel::Event& e : m_model.events()) {
            std::string line = e.line();
            const bool handshake = e.command == 0x01 && m_previousCommand == 0x00 && !e.malformed;
            if (m_opt.silent) {
                if (!e.reply.empty())
                    line += " [silent]";
            } else {
                if (handshake && m_opt.stray > 0) {
                    enqueue(
                        Bytes(static_cast<std::size_t>(m_opt.stray), static_cast<char>(StrayByte)));
                    line += " [after " + std::to_string(m_opt.stray) + " stray bytes]";
                }
                enqueue(e.reply);
            }
            m_previousCommand = e.malformed ? 0x80 : e.command;
            std::printf("%s\n", line.c_str());
        }
        m_model.clearLog();
    }
}

void Simulator::arrived(const char* data, std::size_t size) {
    if (!m_opt.pace && m_in.empty()) {
        received(data, size);
        return;
    }
    const auto now = Clock::now();
    for (std::size_t i = 0; i < size; ++i) {
        // A byte is in once its ten bit times have passed after it, or after the one before it.
        m_lastTaken = m_opt.pace ? std::max(now, m_lastTaken) + ByteTime : now;
        m_in.emplace_back(static_cast<uint8_t>(data[i]), m_lastTaken);
    }
    takeDue();
}

void Simulator::takeDue() {
    const auto now = Clock::now();
    std::string due;
    while (!m_in.empty() && m_in.front().second <= now) {
        due += static_cast<char>(m_in.front().first);
        m_in.pop_front();
    }
    if (!due.empty())
        received(due.data(), due.size());
}

std::optional<Clock::time_point> Simulator::nextWake() const {
    std::optional<Clock::time_point> wake;
    if (!m_out.empty() && !m_writeBlocked)
        wake = dueTime();
    if (!m_in.empty() && (!wake || m_in.front().second < *wake))
        wake = m_in.front().second;
    return wake;
}

Clock::time_point Simulator::dueTime() const {
    const auto when = m_out.front().second;
    return m_opt.pace ? std::max(when, m_lastSent + ByteTime) : when;
}

bool Simulator::flush() {
    m_writeBlocked = false;
    while (!m_out.empty()) {
        const auto now = Clock::now();
        if (dueTime() > now)
            return true;
        std::string chunk;
        if (m_opt.pace) {
            chunk += static_cast<char>(m_out.front().first);
        } else {
            for (auto it = m_out.begin(); it != m_out.end() && it->second <= now; ++it)
                chunk += static_cast<char>(it->first);
        }
        const ssize_t n = write(m_master, chunk.data(), chunk.size());
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                m_writeBlocked = errno == EAGAIN;
                return true;
            }
            std::fprintf(stderr, "zelto-sim: write to the device failed: %s\n",
                         std::strerror(errno));
            return false;
        }
        m_out.erase(m_out.begin(), m_out.begin() + n);
        m_lastSent = now;
    }
    return true;
}

void Simulator::printState() {
    const BoardModel::State& s = m_model.state();
    std::printf("# tris %u latch %u port %u led %s a2d config %u\n", s.tris, s.latch, s.portValue(),
                s.led ? "on" : "off", s.a2dConfig);
    std::printf("# pwm channel duty %d fduration %d; prescale %d mode %d; counter %u; repeat "
                "operand %d\n",
                s.pwmChannel.duty, s.pwmChannel.fduration, 1 << s.prescaleCode, s.countMode ? 1 : 0,
                s.counter, s.repeatOperand);
    std::printf("# analog");
    for (uint16_t v : s.analog)
        std::printf(" %u", v);
    std::printf("\n");
    if (s.lastTone)
        std::printf("# last tone pin %d value %d duration %d\n", s.lastTone->pin, s.lastTone->tone,
                    s.lastTone->duration);
}

void Simulator::control(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> w;
    for (std::string word; in >> word;)
        w.push_back(word);
    if (w.empty())
        return;
    BoardModel::State& s = m_model.state();
    long a = 0;
    long b = 0;
    double f = 0;
    auto onOff = [&](const std::string& v, bool& flag) {
        if (v != "on" && v != "off")
            return false;
        flag = v == "on";
        return true;
    };
    bool ok = true;
    const std::string& cmd = w[0];
    if (cmd == "analog" && w.size() == 3 && parseInt(w[1], 0, 7, a) &&
        parseInt(w[2], 0, 65535, b)) {
        s.analog[static_cast<std::size_t>(a)] = static_cast<uint16_t>(b);
        if (a == 0)
            m_opt.temperature.reset();
    } else if (cmd == "temperature" && w.size() == 2 && parseDouble(w[1], f)) {
        m_opt.temperature = f;
        updateTemperature();
    } else if (cmd == "input" && w.size() == 3 && parseInt(w[1], 0, 7, a) &&
               parseInt(w[2], 0, 1, b)) {
        const auto bit = static_cast<uint8_t>(1u << a);
        s.inputs = static_cast<uint8_t>(b ? (s.inputs | bit) : (s.inputs & ~bit));
    } else if (w.size() == 2 &&
               (cmd == "count" || cmd == "pulsein" || cmd == "rctime" || cmd == "counter") &&
               parseInt(w[1], 0, 65535, a)) {
        const auto v = static_cast<uint16_t>(a);
        (cmd == "count"     ? s.countAnswer
         : cmd == "pulsein" ? s.pulseinAnswer
         : cmd == "rctime"  ? s.rctimeAnswer
                            : s.counter) = v;
    } else if (cmd == "silent" && w.size() == 2) {
        ok = onOff(w[1], m_opt.silent);
    } else if (cmd == "pace" && w.size() == 2) {
        ok = onOff(w[1], m_opt.pace);
    } else if (cmd == "delay" && w.size() == 2 && parseInt(w[1], 0, 600000, a)) {
        m_opt.delayMs = a;
    } else if (cmd == "stray" && w.size() == 2 && parseInt(w[1], 0, 10000, a)) {
        m_opt.stray = a;
    } else if (cmd == "cts" && w.size() == 2 && (w[1] == "low" || w[1] == "high")) {
        if (m_opt.ctsFile.empty()) {
            std::fprintf(stderr, "zelto-sim: cts needs --cts-file\n");
            return;
        }
        if (!writeCts(w[1] == "high")) {
            std::fprintf(stderr, "zelto-sim: cannot write %s: %s\n", m_opt.ctsFile.c_str(),
                         std::strerror(errno));
            return;
        }
    } else if (cmd == "state" && w.size() == 1) {
        printState();
    } else if (cmd == "quit" && w.size() == 1) {
        m_running = false;
    } else {
        ok = false;
    }
    if (!ok) {
        std::fprintf(stderr, "zelto-sim: bad control command: %s\n", line.c_str());
        return;
    }
    std::string echo;
    for (const std::string& word : w)
        echo += (echo.empty() ? "" : " ") + word;
    std::printf("# %s\n", echo.c_str());
}

void Simulator::cleanup() {
    if (m_linked) {
        char target[4096];
        const ssize_t n = readlink(m_opt.link.c_str(), target, sizeof target - 1);
        if (n >= 0 && std::string(target, static_cast<std::size_t>(n)) == m_device)
            unlink(m_opt.link.c_str());
    }
    if (!m_opt.ctsFile.empty())
        writeCts(false); // the board is gone: the line drops
    if (m_slave >= 0)
        close(m_slave);
    if (m_master >= 0)
        close(m_master);
}

int Simulator::run() {
    if (!openPty()) {
        std::fprintf(stderr, "zelto-sim: cannot set up a pseudo-terminal: %s\n",
                     std::strerror(errno));
        return 1;
    }
    if (!m_opt.link.empty()) {
        struct stat st {};
        if (lstat(m_opt.link.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                std::fprintf(stderr, "zelto-sim: %s exists and is no symbolic link\n",
                             m_opt.link.c_str());
                cleanup();
                return 1;
            }
            unlink(m_opt.link.c_str());
        }
        if (symlink(m_device.c_str(), m_opt.link.c_str()) != 0) {
            std::fprintf(stderr, "zelto-sim: cannot link %s: %s\n", m_opt.link.c_str(),
                         std::strerror(errno));
            cleanup();
            return 1;
        }
        m_linked = true;
    }
    if (!writeCts(true)) {
        std::fprintf(stderr, "zelto-sim: cannot write %s: %s\n", m_opt.ctsFile.c_str(),
                     std::strerror(errno));
        cleanup();
        return 1;
    }
    for (const auto& [pin, value] : m_opt.analog)
        m_model.state().analog[static_cast<std::size_t>(pin)] = static_cast<uint16_t>(value);
    updateTemperature();

    std::printf("%s\n", m_device.c_str());
    std::fflush(stdout);

    bool stdinOpen = true;
    std::string stdinLine;
    int status = 0;
    while (m_running) {
        pollfd fds[3] = {{g_signalPipe[0], POLLIN, 0},
                         {m_master, static_cast<short>(POLLIN | (m_writeBlocked ? POLLOUT : 0)), 0},
                         {stdinOpen ? STDIN_FILENO : -1, POLLIN, 0}};
        const auto wake = nextWake();
        int timeoutMs = -1;
        if (wake) {
            const auto wait = *wake - Clock::now();
            timeoutMs =
                wait <= Clock::duration::zero()
                    ? 0
                    : static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wait).count());
        }
#ifdef __linux__
        // Sub-millisecond timeouts keep paced bytes evenly spaced.
        timespec ts{};
        timespec* tsp = nullptr;
        if (timeoutMs >= 0) {
            const auto wait = std::max(*wake - Clock::now(), Clock::duration::zero());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
            ts.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
            ts.tv_nsec = static_cast<long>(ns % 1'000'000'000);
            tsp = &ts;
        }
        const int ready = ppoll(fds, 3, tsp, nullptr);
#else
        const int ready = poll(fds, 3, timeoutMs);
#endif
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "zelto-sim: poll failed: %s\n", std::strerror(errno));
            status = 1;
            break;
        }
        if (fds[0].revents & POLLIN)
            break;
        if (fds[1].revents & POLLIN) {
            char buf[512];
            const ssize_t n = read(m_master, buf, sizeof buf);
            if (n > 0) {
                arrived(buf, static_cast<std::size_t>(n));
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                std::fprintf(stderr, "zelto-sim: read from the device failed: %s\n",
                             std::strerror(errno));
                status = 1;
                break;
            }
        }
        if (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) {
            char buf[512];
            const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
            if (n <= 0) {
                if (n == 0 || (errno != EAGAIN && errno != EINTR))
                    stdinOpen = false;
                if (!stdinLine.empty())
                    control(std::exchange(stdinLine, {}));
            } else {
                for (ssize_t i = 0; i < n; ++i) {
                    if (buf[i] == '\n') {
                        control(std::exchange(stdinLine, {}));
                    } else {
                        stdinLine += buf[i];
                    }
                }
            }
        }
        takeDue();
        if (!flush()) {
            status = 1;
            break;
        }
        std::fflush(stdout);
    }
    cleanup();
    std::fflush(stdout);
    return status;
}

} // namespace

int main(int argc, char** argv) {
    Options options = parseOptions(argc, argv);
    if (pipe(g_signalPipe) != 0) {
        std::perror("zelto-sim: pipe");
        return 1;
    }
    for (int fd : g_signalPipe)
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    fcntl(g_signalPipe[1], F_SETFL, O_NONBLOCK);
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    return Simulator(std::move(options)).run();
}
