#include "win32_message_pump.h"

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

} // namespace zelto
