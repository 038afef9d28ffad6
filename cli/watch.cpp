// zelto watch: samples an analog input at a steady interval.

#include "board_port.h"
#include "subcommands.h"
#include "temperature_sensor.h"
#include "watch_spy.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <thread>
#include <unistd.h>

namespace zelto::cli {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int BarWidth = 40;
constexpr int FullScale = 1023; // the 10-bit converter

std::string bar(int32_t reading) {
    const int filled =
        static_cast<int>(std::clamp<int64_t>(reading, 0, FullScale) * BarWidth / FullScale);
    std::string text(BarWidth + 2, ' ');
    text.front() = '|';
    text.back() = '|';
    std::fill_n(text.begin() + 1, filled, '#');
    return text;
}

// True when the interval has passed; false when an interrupt came first.
bool waitUntil(Clock::time_point when, int interrupt) {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now()).count();
        pollfd p{interrupt, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(std::max<int64_t>(left, 0)));
        if (ready > 0)
            return false;
        if (ready == 0 && Clock::now() >= when)
            return true;
    }
}

// Ends the board's wait when a signal arrives, so that Ctrl-C during a silent board's opening or
// reply ends it as quickly as between two samples. It only looks at the signal descriptor, which
// stays readable for the sampling loop.
class InterruptWatch {
  public:
    InterruptWatch(ZeltoDLL& board, int interrupt) : m_stop(eventfd(0, EFD_CLOEXEC)) {
        if (m_stop < 0)
            return; // without it, Ctrl-C still ends the sampling between two samples
        m_thread = std::thread([this, &board, interrupt] {
            pollfd fds[] = {{interrupt, POLLIN, 0}, {m_stop, POLLIN, 0}};
            while (poll(fds, 2, -1) < 0 && errno == EINTR) {
            }
            if (fds[0].revents & POLLIN)
                board.interrupt();
        });
    }
    ~InterruptWatch() {
        if (m_stop < 0)
            return;
        eventfd_write(m_stop, 1);
        m_thread.join();
        close(m_stop);
    }
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

  private:
    int m_stop;
    std::thread m_thread;
};

} // namespace

int interruptDescriptor() {
    sigset_t signals;
    sigemptyset(&signals);
    // A hang-up, or a reader of the output that went away, ends it as cleanly as Ctrl-C does.
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        sigaddset(&signals, s);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return signalfd(-1, &signals, SFD_CLOEXEC);
}

int watch(const WatchOptions& o) {
    const int interrupt = interruptDescriptor();
    try {
        auto board = std::make_unique<ZeltoDLL>(componentFor(o.port));
        const InterruptWatch watchSignals(*board, interrupt);
        board->portopen(true);
        const bool live = !o.csv && isatty(STDOUT_FILENO);
        if (o.csv)
            std::printf(o.fahrenheit ? "seconds,reading,fahrenheit\n" : "seconds,reading\n");
        const auto start = Clock::now();
        auto next = start;
        for (long n = 0; o.count == 0 || n < o.count; ++n) {
            if (!waitUntil(next, interrupt))
                break;
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            const int32_t reading = board->a2d(o.pin);
            const bool answered = !board->errflag();
            const std::string degrees = sensor::formatTenths(sensor::fahrenheitForReading(reading));
            if (o.csv) {
                std::printf("%.3f,%s", seconds, answered ? std::to_string(reading).c_str() : "");
                if (o.fahrenheit)
                    std::printf(",%s", answered ? degrees.c_str() : "");
                std::printf("\n");
            } else if (!answered) {
                std::printf("%9.3f s  no answer\n", seconds);
            } else {
                std::printf("%9.3f s  %5d", seconds, reading);
                if (o.fahrenheit)
                    std::printf("  %6s F", degrees.c_str());
                if (live)
                    std::printf("  %s", bar(reading).c_str());
                std::printf("\n");
            }
            std::fflush(stdout);
            next += std::chrono::milliseconds(o.intervalMs);
            // A board that answers slower than the interval is sampled as fast as it answers.
            next = std::max(next, Clock::now());
        }
        board->portopen(false);
    } catch (const AutomationError& e) {
        // Ended by a signal in the middle of a wait: as quiet an end as between two samples.
        if (e.number() != err::Interrupted)
            return report(o.port, e);
    }
    close(interrupt);
    return 0;
}

void setupWatch(CLI::App& app, int& status) {
    auto o = std::make_shared<WatchOptions>();
    auto* sub = app.add_subcommand("watch", "Print an analog input at a steady interval");
    sub->add_option("PORT", o->port, "the port")->required();
    sub->add_option("--pin", o->pin, "the analog input")->capture_default_str();
    // Whole numbers first, so that a word is told as such rather than as out of range.
    sub->add_option("--interval", o->intervalMs, "milliseconds between readings")
        ->check(CLI::TypeValidator<long>())
        ->check(CLI::Range(1L, 3600000L))
        ->capture_default_str();
    sub->add_option("--count", o->count,
                    "stop after this many readings, up to 1000000000 (0: never)")
        ->check(CLI::TypeValidator<long>())
        ->check(CLI::Range(0L, 1000000000L))
        ->capture_default_str();
    sub->add_flag("--fahrenheit", o->fahrenheit,
                  "also print degrees Fahrenheit as the temperature monitor computes them");
    sub->add_flag("--csv", o->csv, "print seconds,reading[,fahrenheit] lines for a plot");
    sub->footer(
        std::string(
            R"(Calls a2d at the interval and prints each reading with the seconds since the start; in a
terminal with a bar over the converter's range (0 to 1023). Degrees are those of the
temperature monitor: a sensor of 10 mV per degree on the 5 V, 10-bit converter. A reading the
board did not answer shows as "no answer" (empty in CSV). Ctrl-C ends it with the port closed.

)") + PortHelp);
    sub->callback([o, &status] { status = watch(*o); });
}

} // namespace zelto::cli
