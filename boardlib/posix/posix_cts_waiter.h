#pragma once

#include <chrono>
#include <memory>

namespace zelto {

// A thread that sleeps in a terminal's modem-status wait (TIOCMIWAIT) and tells the port each
// change of the modem lines, so that a wait for clear-to-send sleeps until the line changes.
class CtsWaiter {
  public:
    // The waiter of the open terminal fd, or nullptr where the system offers no such wait or the
    // thread cannot be started (the caller samples the line instead).
    static std::unique_ptr<CtsWaiter> start(int fd);
    // Ends the thread.
    ~CtsWaiter();
    CtsWaiter(const CtsWaiter&) = delete;
    CtsWaiter& operator=(const CtsWaiter&) = delete;

    // Sleeps up to left or until the line may have changed.
    void await(std::chrono::steady_clock::duration left);
    // The thread has left its wait for good: the driver has none, or the device is gone.
    bool ended() const;

    // The signal that ends the wait of the thread. The component installs a handler that does
    // nothing, once, if the signal has none; a program that has its own handler for it keeps it,
    // and its ports sample the line instead.
    static int WakeSignal();

    struct State;

  private:
    explicit CtsWaiter(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};

} // namespace zelto
