#pragma once

#include "monitor.h"

#include <windows.h>

#include <map>

namespace warmscope {

// The window TempForm and its controls, shown to the handlers as their view.
class MainWindow : public View {
  public:
    MainWindow(HINSTANCE instance, Board& board);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    bool create(int show);
    int run(); // the message loop, until the window is closed

    // View
    void setCaption(Label label, const std::string& caption) override;
    void setColour(Label label, int32_t colour) override;
    std::string tempTag() const override { return m_tempTag; }
    std::string limitText() const override;
    void addPort(const std::string& entry) override;
    std::string pickedPort() const override;
    void setTimerEnabled(bool enabled) override;
    void showMessage(const std::string& text) override;

  private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT handle(UINT msg, WPARAM wp, LPARAM lp);
    void createControls();
    HWND control(int id) const { return GetDlgItem(m_hwnd, id); }
    int twips(int value) const { return MulDiv(value, m_dpi, 1440); }

    HINSTANCE m_instance;
    Monitor m_monitor;
    HWND m_hwnd = nullptr;
    HWND m_focus = nullptr;
    int m_dpi = 96;
    HFONT m_formFont = nullptr;
    HFONT m_tempFont = nullptr;
    HFONT m_statusFont = nullptr;
    std::string m_tempTag = "Temp=";
    std::map<int, COLORREF> m_colours;
};

} // namespace warmscope
