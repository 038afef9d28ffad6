// zelto-sim: serves a simulated I/O board on a pseudo-terminal. This file is the event loop: the
// device, standard input (control commands) and the signals, with the board model between them.

#include "board_model.h"
#include "control.h"
#include "log_out.h"
#include "options.h"
#include "pacing.h"
#include "pty.h"
#include "temperature_sensor.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <string>
#include <utility>

namespace zelto::sim {
namespace {

constexpr char StrayByte = static_cast<char>(0xFF);
constexpr double DriftDegrees = 3.0;
constexpr double DriftPeriodSeconds = 60.0;
constexpr uint8_t NoCommand = 0x80;

int g_signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char c = 1;
    ssize_t ignored = write(g_signalPipe[1], &c, 1);
    (void)ignored;
}

class Simulator {
  public:
    explicit Simulator(Options options) : m_opt(std::move(options)), m_cts(m_opt.ctsFile) {
        m_pacing.paced = m_opt.pace;
    }
    int run();

  private:
    bool start();
    void stop();
    void updateTemperature();
    void received(const std::string& bytes);
    bool flush();
    bool readDevice(bool all);
    bool followClients();
    void control(const std::string& line);
    void apply(const Control& c);
    void printState();

    Options m_opt;
    CtsFile m_cts;
    BoardModel m_model;
    Pty m_pty;
    DeviceLink m_link;
    LogOut m_log;
    Pacing m_pacing;
    bool m_writeBlocked = false;
    std::size_t m_answersDropped = 0;
    // While its clear-to-send is low the board takes nothing, as a sender's UART would hold it.
    bool m_ctsLow = false;
    Clock::time_point m_start = Clock::now();
    uint8_t m_previousCommand = NoCommand;
    bool m_running = true;
};

void Simulator::updateTemperature() {
    if (!m_opt.temperature)
        return;
    const double t = std::chrono::duration<double>(Clock::now() - m_start).count();
    const double f =
        *m_opt.temperature + DriftDegrees * std::sin(2 * std::numbers::pi * t / DriftPeriodSeconds);
    m_model.state().analog[0] = sensor::readingForFahrenheit(f);
}

void Simulator::received(const std::string& bytes) {
    if (bytes.empty())
        return;
    updateTemperature();
    for (char byte : bytes) {
        m_model.feed(static_cast<uint8_t>(byte));
        for (const BoardModel::Event& e : m_model.events()) {
            LogLine line = e.logLine();
            const bool handshake = e.command == 0x01 && m_previousCommand == 0x00 && !e.malformed;
            const auto when = Clock::now() + std::chrono::milliseconds(m_opt.delayMs);
            if (m_opt.silent) {
                if (!e.reply.empty())
                    line.note = "silent";
            } else {
                if (handshake && m_opt.stray > 0) {
                    m_pacing.send(std::string(static_cast<std::size_t>(m_opt.stray), StrayByte),
                                  when);
                    line.note = "after " + std::to_string(m_opt.stray) + " stray bytes";
                }
                m_pacing.send(e.reply, when);
            }
            m_previousCommand = e.malformed ? NoCommand : e.command;
            m_log.line(writeLogLine(line));
        }
        m_model.clearLog();
    }
}

bool Simulator::flush() {
    m_writeBlocked = false;
    for (;;) {
        const auto now = Clock::now();
        const std::string chunk = m_pacing.dueOut(now);
        if (chunk.empty())
            return true;
        const ssize_t n = write(m_pty.master(), chunk.data(), chunk.size());
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                m_writeBlocked = errno == EAGAIN;
                return true;
            }
            std::fprintf(stderr, "zelto-sim: write to the device failed: %s\n",
                         std::strerror(errno));
            return false;
        }
        m_pacing.written(static_cast<std::size_t>(n), now);
    }
}

// One chunk, or all that is waiting; false when the device cannot be read.
bool Simulator::readDevice(bool all) {
    char buf[512];
    for (;;) {
        const ssize_t n = read(m_pty.master(), buf, sizeof buf);
        if (n > 0) {
            received(m_pacing.arrive({buf, static_cast<std::size_t>(n)}, Clock::now()));
            if (all)
                continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            std::fprintf(stderr, "zelto-sim: read from the device failed: %s\n",
                         std::strerror(errno));
            return false;
        }
        return true;
    }
}

// A client that opens the device gets no answers meant for another: when the last client leaves,
// the board takes what it sent and its answers go nowhere, as on a line nobody listens to.
bool Simulator::followClients() {
    const Pty::Clients c = m_pty.clientChanges();
    if (c.allLeft && !readDevice(true))
        return false;
    if (c.allLeft || c.came) {
        m_pacing.dropOut();
        m_pty.dropUnread();
        m_writeBlocked = false;
    }
    return true;
}

void Simulator::printState() {
    const BoardModel::State& s = m_model.state();
    char text[256];
    std::snprintf(text, sizeof text, "# tris %u latch %u port %u led %s a2d config %u", s.tris,
                  s.latch, s.portValue(), s.led ? "on" : "off", s.a2dConfig);
    m_log.line(text);
    std::snprintf(text, sizeof text,
                  "# pwm channel duty %d fduration %d; prescale %d mode %d; counter %u; repeat "
                  "operand %d",
                  s.pwmChannel.duty, s.pwmChannel.fduration, 1 << s.prescaleCode,
                  s.countMode ? 1 : 0, s.counter, s.repeatOperand);
    m_log.line(text);
    std::string analog = "# analog";
    for (uint16_t v : s.analog)
        analog += " " + std::to_string(v);
    m_log.line(analog);
    if (s.lastTone) {
        std::snprintf(text, sizeof text, "# last tone pin %d value %d duration %d", s.lastTone->pin,
                      s.lastTone->tone, s.lastTone->duration);
        m_log.line(text);
    }
}

void Simulator::control(const std::string& line) {
    const std::optional<Control> c = parseControl(line);
    if (!c) {
        std::fprintf(stderr, "zelto-sim: bad control command: %s\n", line.c_str());
        return;
    }
    if (c->kind == Control::Kind::None)
        return;
    if (c->kind == Control::Kind::Cts) {
        if (!m_cts.enabled()) {
            std::fprintf(stderr, "zelto-sim: cts needs --cts-file\n");
            return;
        }
        if (!m_cts.write(c->on)) {
            std::fprintf(stderr, "zelto-sim: cannot write %s: %s\n", m_cts.path().c_str(),
                         std::strerror(errno));
            return;
        }
    }
    apply(*c);
    m_log.line("# " + c->echo);
}

void Simulator::apply(const Control& c) {
    BoardModel::State& s = m_model.state();
    using K = Control::Kind;
    switch (c.kind) {
    case K::Analog:
        s.analog[static_cast<std::size_t>(c.pin)] = static_cast<uint16_t>(c.value);
        if (c.pin == 0)
            m_opt.temperature.reset();
        break;
    case K::Temperature:
        m_opt.temperature = c.degrees;
        updateTemperature();
        break;
    case K::Input: {
        const auto bit = static_cast<uint8_t>(1u << c.pin);
        s.inputs = static_cast<uint8_t>(c.value ? (s.inputs | bit) : (s.inputs & ~bit));
        break;
    }
    case K::Answer:
        s.*c.answer = static_cast<uint16_t>(c.value);
        break;
    case K::Silent:
        m_opt.silent = c.on;
        break;
    case K::Pace:
        m_pacing.paced = c.on;
        break;
    case K::Delay:
        m_opt.delayMs = c.value;
        break;
    case K::Stray:
        m_opt.stray = c.value;
        break;
    case K::State:
        printState();
        break;
    case K::Quit:
        m_running = false;
        break;
    case K::Cts:
        m_ctsLow = !c.on;
        break;
    case K::None:
        break;
    }
}

bool Simulator::start() {
    if (!m_log.open(m_opt.log)) {
        std::fprintf(stderr, "zelto-sim: cannot write %s: %s\n", m_opt.log.c_str(),
                     std::strerror(errno));
        return false;
    }
    if (!m_pty.open()) {
        std::fprintf(stderr, "zelto-sim: cannot set up a pseudo-terminal: %s\n",
                     std::strerror(errno));
        return false;
    }
    std::string error;
    if (!m_opt.link.empty() && !m_link.create(m_opt.link, m_pty.device(), error)) {
        std::fprintf(stderr, "zelto-sim: %s\n", error.c_str());
        stop();
        return false;
    }
    if (!m_cts.write(true)) {
        std::fprintf(stderr, "zelto-sim: cannot write %s: %s\n", m_cts.path().c_str(),
                     std::strerror(errno));
        stop();
        return false;
    }
    for (const auto& [pin, value] : m_opt.analog)
        m_model.state().analog[static_cast<std::size_t>(pin)] = static_cast<uint16_t>(value);
    updateTemperature();
    return true;
}

void Simulator::stop() {
    m_link.remove();
    m_cts.write(false); // the board is gone: the line drops
}

// Sleeps in ppoll until a descriptor is ready or wake comes, to the nanosecond so that paced
// bytes stay evenly spaced.
int waitFor(pollfd (&fds)[4], std::optional<Clock::time_point> wake) {
#ifdef __linux__
    timespec ts{};
    timespec* tsp = nullptr;
    if (wake) {
        const auto wait = std::max(*wake - Clock::now(), Clock::duration::zero());
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
        ts.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
        ts.tv_nsec = static_cast<long>(ns % 1'000'000'000);
        tsp = &ts;
    }
    return ppoll(fds, 4, tsp, nullptr);
#else
    int timeoutMs = -1;
    if (wake) {
        const auto wait = std::max(*wake - Clock::now(), Clock::duration::zero());
        timeoutMs = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wait).count());
    }
    return poll(fds, 4, timeoutMs);
#endif
}

int Simulator::run() {
    const bool started = start();
    if (started) {
        std::printf("%s\n", m_pty.device().c_str());
        std::fflush(stdout);
    }
    bool stdinOpen = true;
    std::string stdinLine;
    int status = started ? 0 : 1;
    while (started && m_running) {
        pollfd fds[4] = {
            {g_signalPipe[0], POLLIN, 0},
            {m_pty.master(),
             static_cast<short>((m_ctsLow ? 0 : POLLIN) | (m_writeBlocked ? POLLOUT : 0)), 0},
            {stdinOpen ? STDIN_FILENO : -1, POLLIN, 0},
            {m_pty.clientWatch(), POLLIN, 0}};
        if (waitFor(fds, m_pacing.nextWake(m_writeBlocked)) < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "zelto-sim: poll failed: %s\n", std::strerror(errno));
            status = 1;
            break;
        }
        if (fds[0].revents & POLLIN)
            break;
        // Clients are looked at before their bytes are read, so that a new client's first
        // command is read after the answers left for nobody were dropped.
        if (!followClients() || (!m_ctsLow && (fds[1].revents & POLLIN) && !readDevice(false))) {
            status = 1;
            break;
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
                    if (buf[i] == '\n')
                        control(std::exchange(stdinLine, {}));
                    else
                        stdinLine += buf[i];
                }
            }
        }
        received(m_pacing.takeDue(Clock::now()));
        if (!flush()) {
            status = 1;
            break;
        }
        m_answersDropped += m_pacing.takeDropped();
        if (m_answersDropped > 0 && !m_writeBlocked)
            m_log.line("# " + std::to_string(std::exchange(m_answersDropped, 0)) +
                       " answer bytes dropped: the device is not read");
    }
    if (started)
        stop();
    return status;
}

} // namespace
} // namespace zelto::sim

int main(int argc, char** argv) {
    using namespace zelto::sim;
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
    // A hang-up ends it as cleanly as SIGINT does, with the link removed; the log's reader going
    // away only loses the log.
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaction(s, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    return Simulator(std::move(options)).run();
}
