#include "win32_message_pump.h"

#include "win32_wait_calls.h"

#include <windows.h>

namespace zelto {

// A bound on one pass, so that a handler that keeps posting messages cannot stall the caller's
// wait.
constexpr int kMaxMessagesPerPass = 256;

void Win32MessagePump::pumpOnce() {
    MSG msg;
    for (int i = 0; i < kMaxMessagesPerPass && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
        if (msg.message == WM_QUIT) {
            // Leave the quit request for the host's own loop.
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void Win32MessagePump::idle(Millis most) {
    // A message wait ends on input, not on a timer tick; MWMO_INPUTAVAILABLE also counts input
    // already seen but left in the queue.
    const auto ms = most.count() <= 0 ? 0 : static_cast<DWORD>(most.count());
    win32WaitCalls().msgWait(0, nullptr, ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

} // namespace zelto
