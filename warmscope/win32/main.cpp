// Warmscope: the one-window temperature monitor.

#include "control_ids.h"
#include "dispatch_board.h"
#include "main_window.h"

#include <objbase.h>
#include <windows.h>

#include <cwchar>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;
    int status = 1;
    HRESULT hr = S_OK;
    // The window holds the board object for its whole life; without one there is no window.
    if (auto board = warmscope::DispatchBoard::create(L"OstrelZeltoDLL.ZeltoDLL", hr)) {
        warmscope::MainWindow window(instance, *board);
        if (window.create(show))
            status = window.run();
    } else {
        wchar_t text[160];
        std::swprintf(text, sizeof text / sizeof text[0],
                      L"The board object OstrelZeltoDLL.ZeltoDLL cannot be created (0x%08lX).",
                      static_cast<unsigned long>(hr));
        MessageBoxW(nullptr, text, WARMSCOPE_TITLE, MB_OK | MB_ICONERROR);
    }
    CoUninitialize();
    return status;
}
