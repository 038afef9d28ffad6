#pragma once

// The behaviour of the temperature monitor's window, apart from any window system: the three
// handlers (the window has loaded, a port was picked, the timer ticked) over a view of the
// controls and a board object reached only by dispatch identifier.

#include "errors.h"
#include "member_table.h"
#include "variant.h"

#include <cstdint>
#include <string>
#include <vector>

namespace warmscope {

using zelto::MemberKind;
using zelto::Variant;

namespace dispid = zelto::dispid;

// Colours as 0x00BBGGRR.
inline constexpr int32_t kRed = 255;
inline constexpr int32_t kGreen = 65280;

// The board object, called late-bound. A failing member throws zelto::AutomationError with its
// number.
class Board {
  public:
    virtual ~Board() = default;
    virtual Variant call(int32_t dispid, MemberKind kind, const std::vector<Variant>& args) = 0;
};

enum class Label { Temp, CStatus };

// The window's controls as the handlers see them.
class View {
  public:
    virtual ~View() = default;
    virtual void setCaption(Label label, const std::string& caption) = 0;
    virtual void setColour(Label label, int32_t colour) = 0;
    // The fixed prefix stored with the Temp label.
    virtual std::string tempTag() const = 0;
    virtual std::string limitText() const = 0;
    virtual void addPort(const std::string& entry) = 0;
    // The text of the entry of the port list that was picked.
    virtual std::string pickedPort() const = 0;
    virtual void setTimerEnabled(bool enabled) = 0;
    // Modal: returns when the user has closed the box.
    virtual void showMessage(const std::string& text) = 0;
};

class Monitor {
  public:
    Monitor(View& view, Board& board) : m_view(view), m_board(board) {}

    void loaded();     // fills the port list
    void portPicked(); // connects on the picked port
    void tick();       // samples, shows and compares

    bool blink() const { return m_blink; }

  private:
    void connectionLost();
    Variant get(int32_t id);
    void let(int32_t id, Variant value);
    Variant method(int32_t id, std::vector<Variant> args);

    View& m_view;
    Board& m_board;
    bool m_blink = false;
    // Counts connection attempts, so that a tick can tell whether a pick ran inside one of its
    // board calls (they let window events run while they wait).
    unsigned m_attempts = 0;
};

// The number at the start of the text: leading blanks skipped, a point as the decimal separator,
// reading stops where the number cannot go on; 0 when the text does not begin with a number.
double leadingNumber(const std::string& text);

// The PWM duty for a temperature over the limit by the given excess.
int32_t dutyForExcess(double excess);

} // namespace warmscope
