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
//   ws-drive id NAME               print the number of the control of that name
// ID is a control's name (Temp, Label2, Limit, Label1, CPort, CStatus: control_ids.h) or its
// number. Exit status 0 on success, 1 when the expectation failed or the window is missing.

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

// The number of the control that text names, by name or by number; 0 for an unknown name.
int controlId(const char* text) {
    for (const WarmscopeControl& c : WarmscopeControls)
        if (std::strcmp(text, c.name) == 0)
            return c.id;
    return std::atoi(text);
}

int fail(const char* what) {
    std::fprintf(stderr, "ws-drive: %s\n", what);
    return 1;
}

// One run of the program: its command, its arguments and the window it drives.
struct Run {
    int argc;
    char** argv;
    std::string cmd;
    HWND w = nullptr;

    // Argument n; a missing one ends the program with 2.
    const char* arg(int n) const {
        if (n >= argc) {
            std::fprintf(stderr, "ws-drive: %s needs more arguments\n", cmd.c_str());
            std::exit(2);
        }
        return argv[n];
    }
    // The control that argument n names; a missing one ends the program with 1.
    HWND item(int n) const {
        HWND h = GetDlgItem(w, controlId(arg(n)));
        if (!h) {
            std::fprintf(stderr, "ws-drive: no control %s\n", arg(n));
            std::exit(1);
        }
        return h;
    }
};

int waitWindow(Run& r) {
    HWND w = nullptr;
    if (!waitFor(std::atoi(r.arg(2)), [&] { return (w = mainWindow()) && IsWindowVisible(w); }))
        return fail("no window");
    std::printf("%s|%s\n", utf8(classOf(w)).c_str(), utf8(textOf(w)).c_str());
    return 0;
}

int pick(Run& r) {
    HWND list = GetDlgItem(r.w, IDC_CPORT);
    SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(std::atoi(r.arg(2)) - 1), 0);
    // Setting the selection does not notify; the list's parent hears of it as from a click.
    // Posted, because the handler may stay inside a message box.
    PostMessageW(r.w, WM_COMMAND, MAKEWPARAM(IDC_CPORT, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(list));
    return 0;
}

int printText(Run& r) {
    std::printf("%s\n", utf8(textOf(r.item(2))).c_str());
    return 0;
}

// Waits until the control shows the text (same) or something else (!same).
int waitText(Run& r, bool same) {
    HWND h = r.item(2);
    const std::wstring want = wide(r.arg(3));
    std::wstring last;
    const bool ok =
        waitFor(std::atoi(r.arg(4)), [&] { return ((last = textOf(h)) == want) == same; });
    std::printf("%s\n", utf8(last).c_str());
    return ok ? 0 : 1;
}

int rect(Run& r) {
    RECT box{};
    GetWindowRect(r.item(2), &box);
    std::printf("%ld %ld %ld %ld\n", box.left, box.top, box.right - box.left, box.bottom - box.top);
    return 0;
}

int client(Run& r) {
    RECT box{};
    GetClientRect(r.w, &box);
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    std::printf("%ld %ld %d\n", box.right, box.bottom, dpi);
    return 0;
}

int ports(Run& r) {
    HWND list = GetDlgItem(r.w, IDC_CPORT);
    const LRESULT n = SendMessageW(list, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; ++i) {
        wchar_t buf[64] = {};
        if (SendMessageW(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0) < 64)
            SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buf));
        std::printf("%s%s", i ? " " : "", utf8(buf).c_str());
    }
    std::printf("\n");
    return 0;
}

int focus(Run& r) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(r.w, nullptr), &info) || !info.hwndFocus)
        return fail("no focus");
    // The list's edit part may hold the focus; name the list then.
    HWND focused = info.hwndFocus;
    if (GetParent(focused) != r.w)
        focused = GetParent(focused);
    std::printf("%d", GetDlgCtrlID(focused));
    HWND next = focused;
    for (int i = 0; i < 4; ++i) {
        next = GetNextDlgTabItem(r.w, next, FALSE);
        if (!next)
            break;
        std::printf(" %d", GetDlgCtrlID(next));
    }
    std::printf("\n");
    return 0;
}

int setText(Run& r) {
    const std::wstring text = wide(r.arg(3));
    SendMessageW(r.item(2), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    return 0;
}

// Waits for a message box: prints and closes it (expected) or fails when one comes (!expected).
int message(Run& r, bool expected) {
    HWND box = nullptr;
    const bool appeared = waitFor(std::atoi(r.arg(2)), [&] { return (box = messageBoxOf(r.w)); });
    if (!expected) {
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

int closeWindow(Run& r) {
    PostMessageW(r.w, WM_CLOSE, 0, 0);
    return waitFor(5000, [&] { return !IsWindow(r.w); }) ? 0 : fail("window still open");
}

int printId(Run& r) {
    const int id = controlId(r.arg(2));
    if (id == 0) {
        std::fprintf(stderr, "ws-drive: no control %s\n", r.arg(2));
        return 1;
    }
    std::printf("%d\n", id);
    return 0;
}

struct Command {
    const char* name;
    bool needsWindow; // the window must be there before the command starts
    int (*run)(Run&);
};

const Command Commands[] = {
    {"wait-window", false, waitWindow},
    {"pick", true, pick},
    {"text", true, printText},
    {"wait-text", true, [](Run& r) { return waitText(r, true); }},
    {"wait-change", true, [](Run& r) { return waitText(r, false); }},
    {"rect", true, rect},
    {"client", true, client},
    {"ports", true, ports},
    {"focus", true, focus},
    {"set-text", true, setText},
    {"message", true, [](Run& r) { return message(r, true); }},
    {"no-message", true, [](Run& r) { return message(r, false); }},
    {"close", true, closeWindow},
    {"id", false, printId},
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return fail("no command");
    Run run{argc, argv, argv[1]};
    const Command* command = nullptr;
    for (const Command& c : Commands)
        if (run.cmd == c.name)
            command = &c;
    // Every command but wait-window, and an unknown one, needs the window first.
    if (!command || command->needsWindow) {
        run.w = mainWindow();
        if (!run.w)
            return fail("no window");
    }
    if (!command)
        return fail("unknown command");
    return command->run(run);
}
