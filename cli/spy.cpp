// zelto spy: a pass-through between a client on a pseudo-terminal and a real port that prints
// every command as the board decodes it.

#include "board_model.h"
#include "board_port.h"
#include "subcommands.h"
#include "watch_spy.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace zelto::cli {
namespace {

using Clock = std::chrono::steady_clock;
using sim::BoardModel;

// A board answers at once; a command still short of its answer after this is printed without it.
constexpr auto AnswerWait = std::chrono::milliseconds(300);

// Lends a component to a board object, whose constructor then sets the line up exactly as it
// does for its own port, without the board object sending anything.
class Lent : public SerialComponent {
  public:
    explicit Lent(SerialComponent& c) : m_c(c) {}
    int16_t commPort() const override { return m_c.commPort(); }
    void setCommPort(int16_t port) override { m_c.setCommPort(port); }
    bool portOpen() const override { return m_c.portOpen(); }
    void setPortOpen(bool open) override { m_c.setPortOpen(open); }
    bool ctsHolding(Millis maxWait) override { return m_c.ctsHolding(maxWait); }
    void setOutput(const Bytes& bytes) override { m_c.setOutput(bytes); }
    Bytes input(Millis maxWait) override { return m_c.input(maxWait); }
    void setDTREnable(bool enable) override { m_c.setDTREnable(enable); }
    void setHandshaking(int16_t mode) override { m_c.setHandshaking(mode); }
    void setInputLen(int16_t length) override { m_c.setInputLen(length); }
    void setRTSEnable(bool enable) override { m_c.setRTSEnable(enable); }
    void setSettings(const std::string& settings) override { m_c.setSettings(settings); }
    void setSThreshold(int16_t threshold) override { m_c.setSThreshold(threshold); }

  private:
    SerialComponent& m_c;
};

// "16:41:05.123456", the wall-clock time of a moment.
std::string timestamp(std::chrono::system_clock::time_point when) {
    const auto us =
        std::chrono::duration_cast<std::chrono::microseconds>(when.time_since_epoch()).count();
    const time_t seconds = static_cast<time_t>(us / 1000000);
    tm local{};
    localtime_r(&seconds, &local);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%06lld", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<long long>(us % 1000000));
    return buf;
}

// The pseudo-terminal the client opens. The spy keeps a descriptor of the client's end open so
// that the client may close and reopen it.
struct Terminal {
    int master = -1;
    int slave = -1;
    std::string path;

    bool open() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || !ptsname(master))
            return false;
        path = ptsname(master);
        slave = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios t{};
        if (slave < 0 || tcgetattr(slave, &t) != 0)
            return false;
        cfmakeraw(&t);
        return tcsetattr(slave, TCSANOW, &t) == 0 &&
               fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK) == 0;
    }
    // Hands bytes to the client, waiting while its input is full until told to stop.
    void send(const Bytes& bytes, const std::atomic<bool>& stop) const {
        size_t done = 0;
        while (done < bytes.size() && !stop) {
            const ssize_t n = write(master, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else if (n < 0 && errno == EAGAIN) {
                pollfd p{master, POLLOUT, 0};
                poll(&p, 1, 100);
            } else if (n < 0 && errno != EINTR) {
                return;
            }
        }
    }
    ~Terminal() {
        if (slave >= 0)
            close(slave);
        if (master >= 0)
            close(master);
    }
};

// The commands in the order the client sent them, each printed with the board's answer once that
// has come (or has waited long enough), in the line format of the simulator.
class Decoder {
  public:
    using Time = std::chrono::system_clock::time_point;

    void fromClient(const Bytes& bytes, Time when) {
        m_model.feed(bytes);
        for (BoardModel::Event e : m_model.events()) {
            const size_t expected = e.reply.size();
            e.reply.clear();
            m_pending.push_back({std::move(e), when, Clock::now(), expected});
        }
        m_model.clearLog();
        printDue();
    }

    // Each byte answers the first command still short of its answer; bytes no command asked for
    // get a line of their own.
    void fromBoard(const Bytes& bytes, Time when) {
        for (char c : bytes) {
            auto waiting = std::find_if(m_pending.begin(), m_pending.end(), [](const Pending& p) {
                return p.event.reply.size() < p.expected;
            });
            if (waiting != m_pending.end()) {
                waiting->event.reply += c;
                continue;
            }
            if (m_unasked.empty())
                m_unaskedTime = when;
            m_unasked += c;
        }
        printDue();
    }

    // Prints the commands at the front that have their answer or have waited long enough.
    void printDue(bool all = false) {
        while (!m_pending.empty()) {
            const Pending& p = m_pending.front();
            const bool short_ = p.event.reply.size() < p.expected;
            if (short_ && !all && Clock::now() - p.seen < AnswerWait)
                break;
            std::string line = timestamp(p.when) + "  " + p.event.line();
            if (short_)
                line += p.event.reply.empty() ? " [no answer]" : " [answer cut short]";
            std::printf("%s\n", line.c_str());
            m_pending.pop_front();
        }
        if (m_pending.empty() && !m_unasked.empty()) {
            std::printf("%s  %-12s-> %s [not asked for]\n", timestamp(m_unaskedTime).c_str(), "",
                        sim::hex(m_unasked).c_str());
            m_unasked.clear();
        }
        std::fflush(stdout);
    }

    // Milliseconds until the front command has waited long enough; -1 when none waits.
    int msUntilDue() const {
        if (m_pending.empty())
            return -1;
        const auto left = m_pending.front().seen + AnswerWait - Clock::now();
        return static_cast<int>(
            std::max<int64_t>(std::chrono::ceil<std::chrono::milliseconds>(left).count(), 0));
    }

  private:
    struct Pending {
        BoardModel::Event event; // its reply: what the board has answered so far
        Time when;
        Clock::time_point seen;
        size_t expected; // the length of the board's answer to this command
    };

    BoardModel m_model;
    std::deque<Pending> m_pending;
    Bytes m_unasked;
    Time m_unaskedTime;
};

// Bytes the board sent, handed from the thread that reads the port to the one that prints.
struct FromBoard {
    std::mutex mutex;
    std::vector<std::pair<Bytes, Decoder::Time>> chunks;
    std::optional<AutomationError> failure;
    int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);

    void post() const {
        const uint64_t one = 1;
        if (write(wake, &one, sizeof one) < 0)
            std::perror("zelto: eventfd");
    }
    ~FromBoard() { close(wake); }
};

bool makeLink(const std::string& link, const std::string& target) {
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            std::fprintf(stderr, "zelto: %s exists and is no symbolic link\n", link.c_str());
            return false;
        }
        unlink(link.c_str());
    }
    if (symlink(target.c_str(), link.c_str()) != 0) {
        std::fprintf(stderr, "zelto: cannot link %s: %s\n", link.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

void removeLink(const std::string& link, const std::string& target) {
    char buf[4096];
    const ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
    if (n >= 0 && std::string(buf, static_cast<size_t>(n)) == target)
        unlink(link.c_str());
}

} // namespace

int spy(const SpyOptions& o) {
    const int interrupt = interruptDescriptor();
    std::unique_ptr<SerialComponent> port;
    try {
        port = componentFor(o.device);
        ZeltoDLL lineSetUp(std::make_unique<Lent>(*port));
        port->setPortOpen(true);
    } catch (const AutomationError& e) {
        return report(o.device, e);
    }
    Terminal terminal;
    if (!terminal.open()) {
        std::fprintf(stderr, "zelto: cannot set up a pseudo-terminal: %s\n", std::strerror(errno));
        return 1;
    }
    if (!o.link.empty() && !makeLink(o.link, terminal.path))
        return 1;
    std::printf("%s\n", terminal.path.c_str());
    std::fflush(stdout);

    FromBoard board;
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        try {
            while (!stop) {
                const Bytes bytes = port->input(Millis{50});
                if (bytes.empty())
                    continue;
                terminal.send(bytes, stop);
                std::lock_guard lock(board.mutex);
                board.chunks.emplace_back(bytes, std::chrono::system_clock::now());
                board.post();
            }
        } catch (const AutomationError& e) {
            std::lock_guard lock(board.mutex);
            board.failure = e;
            board.post();
        }
    });

    Decoder decoder;
    int status = 0;
    while (status == 0) {
        pollfd fds[3] = {
            {interrupt, POLLIN, 0}, {terminal.master, POLLIN, 0}, {board.wake, POLLIN, 0}};
        if (poll(fds, 3, decoder.msUntilDue()) < 0 && errno != EINTR)
            break;
        if (fds[0].revents & POLLIN)
            break;
        if (fds[1].revents & POLLIN) {
            char buf[4096];
            const ssize_t n = read(terminal.master, buf, sizeof buf);
            if (n > 0) {
                const Bytes bytes(buf, static_cast<size_t>(n));
                const auto when = std::chrono::system_clock::now();
                try {
                    port->setOutput(bytes);
                } catch (const AutomationError& e) {
                    status = report(o.device, e);
                }
                decoder.fromClient(bytes, when);
            }
        }
        if (fds[2].revents & POLLIN) {
            uint64_t count = 0;
            if (read(board.wake, &count, sizeof count) < 0 && errno != EAGAIN)
                std::perror("zelto: eventfd");
            std::lock_guard lock(board.mutex);
            for (const auto& [bytes, when] : board.chunks)
                decoder.fromBoard(bytes, when);
            board.chunks.clear();
            if (board.failure)
                status = report(o.device, *board.failure);
        }
        decoder.printDue();
    }
    stop = true;
    reader.join();
    // What the reader passed on before it stopped belongs to the lines printed last.
    for (const auto& [bytes, when] : board.chunks)
        decoder.fromBoard(bytes, when);
    decoder.printDue(true);
    try {
        port->setPortOpen(false);
    } catch (const AutomationError&) {
        // the port is already gone
    }
    if (!o.link.empty())
        removeLink(o.link, terminal.path);
    close(interrupt);
    return status;
}

void setupSpy(CLI::App& app, int& status) {
    auto o = std::make_shared<SpyOptions>();
    auto* sub =
        app.add_subcommand("spy", "Pass a client's bytes to the board, printing every command");
    sub->add_option("DEVICE", o->device, "the port the board is on, as PORT")->required();
    sub->add_option("--link", o->link, "also make this path a symbolic link to the terminal");
    sub->footer(
        std::string(
            R"(Serves a pseudo-terminal for the client (its path is the first line printed), passes every
byte between it and DEVICE unchanged and at once, and prints each command the client sent as
the board decodes it, in the simulator's format, after the time it passed and with the board's
answer bytes: "16:41:05.123456  30          a2d pin 0 -> 03 09".

DEVICE is set to the board's line: 57600 baud, 8N1, RTS/CTS flow control, DTR and RTS on.
What cannot pass through a pseudo-terminal: the modem lines. The client sees clear-to-send
always asserted and its RTS and DTR go nowhere; the board's flow control acts on DEVICE only,
where the kernel holds the client's bytes while the board keeps clear-to-send low. Line
settings the client makes (speed, parity) stay on the pseudo-terminal. Ctrl-C ends it with
DEVICE closed.

)") + PortHelp);
    sub->callback([o, &status] { status = spy(*o); });
}

} // namespace zelto::cli
