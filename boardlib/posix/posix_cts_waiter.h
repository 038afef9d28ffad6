#pragma once

#include <chrono>
#include <memory>
#include <pthread.h>

namespace zelto {

// A thread that sleeps in a terminal's modem-status wait (TIOCMIWAIT) and tells the port each
// change of the modem lines, so that a wait for clear-to-send sleeps until the line changes. The
// thread waits on a duplicate of the terminal of its own and is ended by cancellation, which uses
// no signal a program can change: closing is bounded whatever the program does with its signals.
class CtsWaiter {
  public:
    // The waiter of the open terminal fd, or nullptr where the system offers no such wait or the
    // thread cannot be started (the caller samples the line instead).
    static std::unique_ptr<CtsWaiter> start(int fd);
    // Ends the thread: it waits up to a second for it and otherwise leaves it to end on its own
    // (it owns what it uses).
    ~CtsWaiter();
    CtsWaiter(const CtsWaiter&) = delete;
    CtsWaiter& operator=(const CtsWaiter&) = delete;

    // Sleeps up to left or until the line may have changed.
    void await(std::chrono::steady_clock::duration left);
    // The thread has left its wait for good: the driver has none, or the device is gone.
    bool ended() const;

    struct State;

  private:
    CtsWaiter(std::shared_ptr<State> state, pthread_t thread);
    std::shared_ptr<State> m_state;
    pthread_t m_thread;
};

} // namespace zelto
