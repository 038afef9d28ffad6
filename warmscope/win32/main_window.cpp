#include "main_window.h"

#include "com_resources.h"
#include "control_ids.h"

namespace warmscope {
namespace {

constexpr UINT_PTR kTimerId = 1;
constexpr UINT kTimerInterval = 500;

// Client area and control placement, in twips (1440 per inch).
constexpr int kClientWidth = 4680;
constexpr int kClientHeight = 2280;
constexpr int kMargin = 120;
constexpr int kRowTop = 1080;

int labelId(Label label) {
    return label == Label::Temp ? IDC_TEMP : IDC_CSTATUS;
}

HFONT makeFont(int dpi, int hundredthsOfPoint, int weight, const wchar_t* face) {
    return CreateFontW(-MulDiv(hundredthsOfPoint, dpi, 7200), 0, 0, 0, weight, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, face);
}

std::wstring windowText(HWND hwnd) {
    const int length = GetWindowTextLengthW(hwnd);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(hwnd, text.data(), length + 1);
    text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
    return text;
}

} // namespace

MainWindow::MainWindow(HINSTANCE instance, Board& board)
    : m_instance(instance), m_monitor(*this, board) {
    HDC screen = GetDC(nullptr);
    m_dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    m_formFont = makeFont(m_dpi, 825, FW_NORMAL, L"MS Sans Serif");
    m_tempFont = makeFont(m_dpi, 2025, FW_NORMAL, L"Arial");
    m_statusFont = makeFont(m_dpi, 1200, FW_BOLD, L"MS Sans Serif");
    m_colours[IDC_TEMP] = kGreen;
    m_colours[IDC_CSTATUS] = kRed;
}

MainWindow::~MainWindow() {
    if (m_hwnd)
        DestroyWindow(m_hwnd);
    DeleteObject(m_formFont);
    DeleteObject(m_tempFont);
    DeleteObject(m_statusFont);
}

bool MainWindow::create(int show) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = windowProc;
    wc.hInstance = m_instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = WARMSCOPE_CLASS;
    if (!RegisterClassExW(&wc))
        return false;

    const DWORD style = WS_OVERLAPPEDWINDOW;
    const DWORD exStyle = WS_EX_CONTROLPARENT;
    RECT frame{0, 0, twips(kClientWidth), twips(kClientHeight)};
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    m_hwnd = CreateWindowExW(exStyle, WARMSCOPE_CLASS, WARMSCOPE_CAPTION, style, CW_USEDEFAULT,
                             CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                             nullptr, nullptr, m_instance, this);
    if (!m_hwnd)
        return false;

    createControls();
    m_monitor.loaded();
    ShowWindow(m_hwnd, show);
    UpdateWindow(m_hwnd);
    SetFocus(m_focus);
    return true;
}

void MainWindow::createControls() {
    auto make = [this](DWORD exStyle, const wchar_t* cls, const wchar_t* text, DWORD style, int id,
                       int left, int top, int width, int height, HFONT font) {
        HWND h =
            CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, twips(left),
                            twips(top), twips(width), twips(height), m_hwnd,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), m_instance, nullptr);
        SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        return h;
    };
    // A label sized to its text in the window's font.
    auto label = [&](const wchar_t* text, int id, int left, int top) {
        HWND h = make(0, L"STATIC", text, SS_LEFT | SS_NOPREFIX, id, left, top, 0, 0, m_formFont);
        HDC dc = GetDC(h);
        HGDIOBJ old = SelectObject(dc, m_formFont);
        SIZE size{};
        GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &size);
        SelectObject(dc, old);
        ReleaseDC(h, dc);
        SetWindowPos(h, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER);
    };

    // Creation order is tab order: the port list comes before the limit.
    make(0, L"STATIC", L"Temp=", SS_LEFT | SS_NOPREFIX, IDC_TEMP, kMargin, kMargin,
         kClientWidth - 2 * kMargin, 615, m_tempFont);
    label(L"Limit:", IDC_LABEL2, kMargin, kRowTop);
    label(L"COM", IDC_LABEL1, 1680, kRowTop);
    m_focus = make(0, L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, IDC_CPORT, 2160,
                   kRowTop, 1095, 2400, m_formFont);
    make(WS_EX_CLIENTEDGE, L"EDIT", L"75", ES_AUTOHSCROLL | WS_TABSTOP, IDC_LIMIT, 720, kRowTop,
         735, 315, m_formFont);
    make(0, L"STATIC", L"Disconnected", SS_LEFT | SS_NOPREFIX, IDC_CSTATUS, kMargin, 1800, 3600,
         360, m_statusFont);
}

int MainWindow::run() {
    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (m_hwnd && IsDialogMessageW(m_hwnd, &msg))
            continue; // Tab moves between controls
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

LRESULT CALLBACK MainWindow::windowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        self->m_hwnd = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self)
        return DefWindowProcW(hwnd, msg, wp, lp);
    return self->handle(msg, wp, lp);
}

LRESULT MainWindow::handle(UINT msg, WPARAM wp, LPARAM lp) {
    const HWND hwnd = m_hwnd;
    switch (msg) {
    case WM_COMMAND:
        if (LOWORD(wp) == IDC_CPORT && HIWORD(wp) == CBN_SELCHANGE)
            m_monitor.portPicked();
        return 0;
    case WM_TIMER:
        if (wp == kTimerId)
            m_monitor.tick();
        return 0;
    case WM_CTLCOLORSTATIC: {
        const auto found = m_colours.find(GetDlgCtrlID(reinterpret_cast<HWND>(lp)));
        if (found == m_colours.end())
            break;
        HDC dc = reinterpret_cast<HDC>(wp);
        SetTextColor(dc, found->second);
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_ACTIVATE:
        if (LOWORD(wp) == WA_INACTIVE) {
            if (HWND f = GetFocus(); f && IsChild(hwnd, f))
                m_focus = f;
        }
        break;
    case WM_SETFOCUS:
        if (m_focus)
            SetFocus(m_focus);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY:
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        m_hwnd = nullptr;
        break;
    default:
        break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

void MainWindow::setCaption(Label label, const std::string& caption) {
    SetWindowTextW(control(labelId(label)), zelto::com::toWide(caption).c_str());
}

void MainWindow::setColour(Label label, int32_t colour) {
    const int id = labelId(label);
    m_colours[id] = static_cast<COLORREF>(colour);
    InvalidateRect(control(id), nullptr, TRUE);
}

std::string MainWindow::limitText() const {
    return zelto::com::toUtf8(windowText(control(IDC_LIMIT)));
}

void MainWindow::addPort(const std::string& entry) {
    SendMessageW(control(IDC_CPORT), CB_ADDSTRING, 0,
                 reinterpret_cast<LPARAM>(zelto::com::toWide(entry).c_str()));
}

std::string MainWindow::pickedPort() const {
    HWND list = control(IDC_CPORT);
    const LRESULT index = SendMessageW(list, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR)
        return {};
    const LRESULT length = SendMessageW(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR)
        return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(length));
    return zelto::com::toUtf8(text);
}

void MainWindow::setTimerEnabled(bool enabled) {
    if (enabled)
        SetTimer(m_hwnd, kTimerId, kTimerInterval, nullptr);
    else
        KillTimer(m_hwnd, kTimerId);
}

void MainWindow::showMessage(const std::string& text) {
    MessageBoxW(m_hwnd, zelto::com::toWide(text).c_str(), WARMSCOPE_TITLE, MB_OK);
}

} // namespace warmscope
