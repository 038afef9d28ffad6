#include "posix_cts_waiter.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

#ifdef TIOCMIWAIT
#include <sys/eventfd.h>
#endif

namespace zelto {
namespace {

using Clock = std::chrono::steady_clock;

// The longest a sleeping wait goes without looking at the line: a change in the moment between two
// modem-status waits of the thread is not lost for longer.
constexpr auto kRecheck = std::chrono::milliseconds{50};

#ifdef TIOCMIWAIT
void ignoreWake(int) {}

// True once the wake signal has the handler that does nothing. It is installed without SA_RESTART:
// the interrupted modem-status wait has to return.
bool wakeSignalReady() {
    static const bool ready = [] {
        struct sigaction old {};
        if (::sigaction(CtsWaiter::WakeSignal(), nullptr, &old) != 0)
            return false;
        if ((old.sa_flags & SA_SIGINFO) != 0 || old.sa_handler != SIG_DFL)
            return false;
        struct sigaction wake {};
        wake.sa_handler = ignoreWake;
        sigemptyset(&wake.sa_mask);
        return ::sigaction(CtsWaiter::WakeSignal(), &wake, nullptr) == 0;
    }();
    return ready;
}
#endif

} // namespace

struct CtsWaiter::State {
    int fd = -1;
    int event = -1;
    pthread_t thread{};
    std::atomic<bool> stop{false};
    // The thread has left its loop: the wait failed (unsupported, device gone) or it was stopped.
    std::atomic<bool> done{false};

    ~State() {
        if (event >= 0)
            ::close(event);
    }

    void tell() const {
        const uint64_t one = 1;
        if (::write(event, &one, sizeof one) < 0) {
            // Only a full counter fails, and then a wake is pending anyway.
        }
    }

#ifdef TIOCMIWAIT
    static void* run(void* self) {
        auto* w = static_cast<State*>(self);
        sigset_t wake;
        sigemptyset(&wake);
        sigaddset(&wake, WakeSignal());
        pthread_sigmask(SIG_UNBLOCK, &wake, nullptr);
        // The line may have changed before the first wait began: the caller looks once more.
        w->tell();
        while (!w->stop.load()) {
            if (::ioctl(w->fd, TIOCMIWAIT, TIOCM_CTS) == 0) {
                w->tell();
                continue;
            }
            if (errno == EINTR)
                continue;
            break;
        }
        w->done.store(true);
        w->tell();
        return nullptr;
    }
#endif
};

int CtsWaiter::WakeSignal() {
    return SIGRTMAX - 4;
}

CtsWaiter::CtsWaiter(std::unique_ptr<State> state) : m_state(std::move(state)) {}

std::unique_ptr<CtsWaiter> CtsWaiter::start([[maybe_unused]] int fd) {
#ifdef TIOCMIWAIT
    auto w = std::make_unique<State>();
    w->fd = fd;
    w->event = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (w->event < 0 || !wakeSignalReady())
        return nullptr;
    // Every signal of the program goes to its own threads, not to the waiter.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    const bool started = pthread_create(&w->thread, nullptr, State::run, w.get()) == 0;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (!started)
        return nullptr;
    return std::unique_ptr<CtsWaiter>(new CtsWaiter(std::move(w)));
#else
    return nullptr;
#endif
}

CtsWaiter::~CtsWaiter() {
#ifdef TIOCMIWAIT
    State& w = *m_state;
    w.stop.store(true);
    // A signal that comes just before the thread enters its wait is lost: send it again until
    // the thread has left.
    while (!w.done.load()) {
        pthread_kill(w.thread, WakeSignal());
        if (!w.done.load())
            std::this_thread::sleep_for(std::chrono::microseconds{200});
    }
    pthread_join(w.thread, nullptr);
#endif
}

bool CtsWaiter::ended() const {
    return m_state->done.load();
}

void CtsWaiter::await(Clock::duration left) {
    const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::min<Clock::duration>(left, kRecheck));
    const timespec timeout{static_cast<time_t>(wait.count() / 1'000'000'000),
                           static_cast<long>(wait.count() % 1'000'000'000)};
    pollfd p{m_state->event, POLLIN, 0};
    if (::ppoll(&p, 1, &timeout, nullptr) > 0) {
        uint64_t count = 0;
        if (::read(m_state->event, &count, sizeof count) < 0) {
            // Readable, as the poll said: it does not fail.
        }
    }
}

} // namespace zelto
