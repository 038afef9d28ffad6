// Drives the Warmscope window from another process, as a user would, and reports what it shows.
//
//   ws-drive wait-window MS        wait for the window; print its class and caption
//   ws-drive pick N                pick entry N (1-based) of the port list
//   ws-drive text ID               print the text of the control
//   ws-drive wait-text ID TEXT MS  wait until the control shows TEXT; print the last text
//   ws-drive wait-change ID TEXT MS  wait until the control shows something other than TEXT
//   ws-drive rect ID               print the control's screen rectangle: left top width height
//   ws-drive client                print the window's client size and the screen's dots per inch
//   ws-drive ports                 print the entries of the port list, blank-separated
//   ws-drive focus                 print the focused control, then the tab order from it
//   ws-drive set-text ID TEXT      replace the text of an edit control
//   ws-drive message MS            wait for a message box of the window; print caption|text and
//                                  close it
//   ws-drive no-message MS         fail if a message box appears within MS
//   ws-drive close                 close the window
// Exit status 0 on success, 1 when the expectation failed or the window is missing.

#include "control_ids.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

HWND mainWindow() {
    return FindWindowW(WARMSCOPE_CLASS, WARMSCOPE_CAPTION);
}

std::string utf8(const std::wstring& w) {
    if (w.empty())
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                        nullptr);
    return s;
}

std::wstring wide(const char* s) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, s, -1, nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s, -1, w.data(), n);
    w.resize(static_cast<size_t>(n > 0 ? n - 1 : 0));
    return w;
}

// WM_GETTEXT works across processes: the system copies the text.
std::wstring textOf(HWND hwnd) {
    wchar_t buf[512] = {};
    SendMessageTimeoutW(hwnd, WM_GETTEXT, sizeof buf / sizeof buf[0], reinterpret_cast<LPARAM>(buf),
                        SMTO_ABORTIFHUNG, 2000, nullptr);
    return buf;
}

std::wstring classOf(HWND hwnd) {
    wchar_t buf[128] = {};
    GetClassNameW(hwnd, buf, 128);
    return buf;
}

struct MessageBoxSearch {
    DWORD process;
    HWND found;
};

BOOL CALLBACK findMessageBox(HWND hwnd, LPARAM lp) {
    auto* search = reinterpret_cast<MessageBoxSearch*>(lp);
    DWORD process = 0;
    GetWindowThreadProcessId(hwnd, &process);
    if (process == search->process && classOf(hwnd) == L"#32770" && IsWindowVisible(hwnd)) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND messageBoxOf(HWND window) {
    MessageBoxSearch search{0, nullptr};
    GetWindowThreadProcessId(window, &search.process);
    EnumWindows(findMessageBox, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

template <typename Done> bool waitFor(int ms, Done done) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (done())
            return true;
        if (static_cast<int>(GetTickCount() - start) >= ms)
            return false;
        Sleep(20);
    }
}

int fail(const char* what) {
    std::fprintf(stderr, "ws-drive: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return fail("no command");
    const std::string cmd = argv[1];
    auto arg = [&](int n) -> const char* {
        if (n >= argc) {
            std::fprintf(stderr, "ws-drive: %s needs more arguments\n", cmd.c_str());
            std::exit(2);
        }
        return argv[n];
    };

    if (cmd == "wait-window") {
        HWND w = nullptr;
        if (!waitFor(std::atoi(arg(2)), [&] { return (w = mainWindow()) && IsWindowVisible(w); }))
            return fail("no window");
        std::printf("%s|%s\n", utf8(classOf(w)).c_str(), utf8(textOf(w)).c_str());
        return 0;
    }

    HWND w = mainWindow();
    if (!w)
        return fail("no window");
    auto item = [&](int n) {
        HWND h = GetDlgItem(w, std::atoi(arg(n)));
        if (!h) {
            std::fprintf(stderr, "ws-drive: no control %s\n", arg(n));
            std::exit(1);
        }
        return h;
    };

    if (cmd == "pick") {
        HWND list = GetDlgItem(w, IDC_CPORT);
        SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(std::atoi(arg(2)) - 1), 0);
        // Setting the selection does not notify; the list's parent hears of it as from a click.
        // Posted, because the handler may stay inside a message box.
        PostMessageW(w, WM_COMMAND, MAKEWPARAM(IDC_CPORT, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(list));
        return 0;
    }
    if (cmd == "text") {
        std::printf("%s\n", utf8(textOf(item(2))).c_str());
        return 0;
    }
    if (cmd == "wait-text" || cmd == "wait-change") {
        HWND h = item(2);
        const std::wstring want = wide(arg(3));
        std::wstring last;
        const bool same = cmd == "wait-text";
        const bool ok =
            waitFor(std::atoi(arg(4)), [&] { return ((last = textOf(h)) == want) == same; });
        std::printf("%s\n", utf8(last).c_str());
        return ok ? 0 : 1;
    }
    if (cmd == "rect") {
        RECT r{};
        GetWindowRect(item(2), &r);
        std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
        return 0;
    }
    if (cmd == "client") {
        RECT r{};
        GetClientRect(w, &r);
        HDC screen = GetDC(nullptr);
        const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(nullptr, screen);
        std::printf("%ld %ld %d\n", r.right, r.bottom, dpi);
        return 0;
    }
    if (cmd == "ports") {
        HWND list = GetDlgItem(w, IDC_CPORT);
        const LRESULT n = SendMessageW(list, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < n; ++i) {
            wchar_t buf[64] = {};
            if (SendMessageW(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0) < 64)
                SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(i),
                             reinterpret_cast<LPARAM>(buf));
            std::printf("%s%s", i ? " " : "", utf8(buf).c_str());
        }
        std::printf("\n");
        return 0;
    }
    if (cmd == "focus") {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        if (!GetGUIThreadInfo(GetWindowThreadProcessId(w, nullptr), &info) || !info.hwndFocus)
            return fail("no focus");
        // The list's edit part may hold the focus; name the list then.
        HWND focus = info.hwndFocus;
        if (GetParent(focus) != w)
            focus = GetParent(focus);
        std::printf("%d", GetDlgCtrlID(focus));
        HWND next = focus;
        for (int i = 0; i < 4; ++i) {
            next = GetNextDlgTabItem(w, next, FALSE);
            if (!next)
                break;
            std::printf(" %d", GetDlgCtrlID(next));
        }
        std::printf("\n");
        return 0;
    }
    if (cmd == "set-text") {
        const std::wstring text = wide(arg(3));
        SendMessageW(item(2), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
        return 0;
    }
    if (cmd == "message" || cmd == "no-message") {
        HWND box = nullptr;
        const bool appeared = waitFor(std::atoi(arg(2)), [&] { return (box = messageBoxOf(w)); });
        if (cmd == "no-message") {
            if (appeared)
                std::printf("%s\n", utf8(textOf(GetDlgItem(box, 0xFFFF))).c_str());
            return appeared ? 1 : 0;
        }
        if (!appeared)
            return fail("no message box");
        std::printf("%s|%s\n", utf8(textOf(box)).c_str(),
                    utf8(textOf(GetDlgItem(box, 0xFFFF))).c_str());
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        waitFor(3000, [&] { return !IsWindow(box); });
        return 0;
    }
    if (cmd == "close") {
        PostMessageW(w, WM_CLOSE, 0, 0);
        return waitFor(5000, [&] { return !IsWindow(w); }) ? 0 : fail("window still open");
    }
    return fail("unknown command");
}
