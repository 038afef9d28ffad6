#include "posix_cts_waiter.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
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
// How long closing waits for the thread to end before it leaves it to end on its own.
constexpr std::time_t kJoinSeconds = 1;

} // namespace

#ifdef TIOCMIWAIT
// The waiting thread is cancelled inside this call and unwound through it. The C library declares
// ioctl noexcept, and a compiler may then leave out the path that releases the thread's state (or
// end the process when the unwinding reaches the call), so the thread calls it by this name.
extern "C" int cancellableIoctl(int fd, unsigned long request, ...) __asm__("ioctl");
#endif

// Shared by the port and the thread, so that a thread left to end on its own still owns what it
// uses: its own duplicate of the terminal and the event it counts changes on.
struct CtsWaiter::State {
    int fd = -1;
    int event = -1;
    // The thread has left its wait for good: the wait failed (unsupported, device gone).
    std::atomic<bool> ended{false};

    ~State() {
        if (fd >= 0)
            ::close(fd);
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
    // Ended by cancellation: its wake-up is the C library's own signal, which a program can neither
    // ignore, block, nor handle, so no signal setting of the program can keep the thread in its
    // wait or end the process. The thread can be cancelled only while it sleeps in the wait (and
    // at the cancellation point of its write), where it holds nothing but the shared state.
    static void* run(void* arg) {
        const std::shared_ptr<State> w(std::move(*static_cast<std::shared_ptr<State>*>(arg)));
        delete static_cast<std::shared_ptr<State>*>(arg);
        // The line may have changed before the first wait began: the caller looks once more.
        w->tell();
        for (;;) {
            int type = 0;
            pthread_setcanceltype(PTHREAD_CANCEL_ASYNCHRONOUS, &type);
            const int result = cancellableIoctl(w->fd, TIOCMIWAIT, TIOCM_CTS);
            const int error = errno;
            pthread_setcanceltype(PTHREAD_CANCEL_DEFERRED, &type);
            if (result != 0 && error != EINTR)
                break;
            w->tell();
        }
        // Not cancelled any more: the destructors that run at thread exit may reach cancellation
        // points, and must not be unwound.
        pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
        w->ended.store(true);
        w->tell();
        return nullptr;
    }
#endif
};

CtsWaiter::CtsWaiter(std::shared_ptr<State> state, pthread_t thread)
    : m_state(std::move(state)), m_thread(thread) {}

std::unique_ptr<CtsWaiter> CtsWaiter::start([[maybe_unused]] int fd) {
#ifdef TIOCMIWAIT
    auto w = std::make_shared<State>();
    w->fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    w->event = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (w->fd < 0 || w->event < 0)
        return nullptr;
    // Every signal of the program goes to its own threads, not to the waiter.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    auto* arg = new std::shared_ptr<State>(w);
    pthread_t thread{};
    const bool started = pthread_create(&thread, nullptr, State::run, arg) == 0;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (!started) {
        delete arg;
        return nullptr;
    }
    return std::unique_ptr<CtsWaiter>(new CtsWaiter(std::move(w), thread));
#else
    return nullptr;
#endif
}

CtsWaiter::~CtsWaiter() {
    pthread_cancel(m_thread);
    timespec deadline{};
    ::clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += kJoinSeconds;
    if (pthread_timedjoin_np(m_thread, nullptr, &deadline) != 0)
        pthread_detach(m_thread);
}

bool CtsWaiter::ended() const {
    return m_state->ended.load();
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
