#pragma once

#include <windows.h>

namespace zelto {

// The system calls the serial component and the message pump wait with. A stock system sleeps in
// whole timer ticks (about 15.6 ms) unless the timer resolution is raised; a test swaps these for
// counting ones to check that no wait sleeps a whole tick.
struct Win32WaitCalls {
    UINT(WINAPI* beginPeriod)(UINT ms);
    UINT(WINAPI* endPeriod)(UINT ms);
    void(WINAPI* sleep)(DWORD ms);
    DWORD(WINAPI* msgWait)(DWORD count, const HANDLE* handles, DWORD ms, DWORD wake, DWORD flags);
};

Win32WaitCalls& win32WaitCalls();

} // namespace zelto
