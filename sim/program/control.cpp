#include "control.h"

#include "options.h"

#include <sstream>
#include <vector>

namespace zelto::sim {
namespace {

using Words = std::vector<std::string>;
using K = Control::Kind;
using S = BoardModel::State;

// The whole number at w[i], within its range.
bool number(const Words& w, std::size_t i, Range range, long& out) {
    const auto v = parseIn(w[i], range);
    out = v.value_or(0);
    return v.has_value();
}

// w[1] as one of two words.
bool flag(const Words& w, const char* on, const char* off, bool& out) {
    out = w[1] == on;
    return w[1] == on || w[1] == off;
}

template <uint16_t S::*Field> bool answer(const Words& w, Control& c) {
    c.answer = Field;
    return number(w, 1, Answer, c.value);
}

// One control command: its word, how many words follow it, and how they are read.
struct Syntax {
    const char* word;
    std::size_t arguments;
    K kind;
    bool (*read)(const Words& w, Control& c);
};

const Syntax Commands[] = {
    {"state", 0, K::State, [](const Words&, Control&) { return true; }},
    {"quit", 0, K::Quit, [](const Words&, Control&) { return true; }},
    {"analog", 2, K::Analog,
     [](const Words& w, Control& c) {
         return number(w, 1, AnalogPin, c.pin) && number(w, 2, AnalogValue, c.value);
     }},
    {"input", 2, K::Input,
     [](const Words& w, Control& c) {
         return number(w, 1, PortPin, c.pin) && number(w, 2, Level, c.value);
     }},
    {"temperature", 1, K::Temperature,
     [](const Words& w, Control& c) {
         const auto f = parseNumber(w[1]);
         c.degrees = f.value_or(0);
         return f.has_value();
     }},
    {"count", 1, K::Answer, answer<&S::countAnswer>},
    {"pulsein", 1, K::Answer, answer<&S::pulseinAnswer>},
    {"rctime", 1, K::Answer, answer<&S::rctimeAnswer>},
    {"counter", 1, K::Answer, answer<&S::counter>},
    {"silent", 1, K::Silent, [](const Words& w, Control& c) { return flag(w, "on", "off", c.on); }},
    {"pace", 1, K::Pace, [](const Words& w, Control& c) { return flag(w, "on", "off", c.on); }},
    {"delay", 1, K::Delay,
     [](const Words& w, Control& c) { return number(w, 1, DelayMs, c.value); }},
    {"stray", 1, K::Stray,
     [](const Words& w, Control& c) { return number(w, 1, StrayBytes, c.value); }},
    {"cts", 1, K::Cts, [](const Words& w, Control& c) { return flag(w, "high", "low", c.on); }},
};

} // namespace

std::optional<Control> parseControl(const std::string& line) {
    std::istringstream in(line);
    Words w;
    for (std::string word; in >> word;)
        w.push_back(word);
    Control c;
    for (const std::string& each : w)
        c.echo += (c.echo.empty() ? "" : " ") + each;
    if (w.empty())
        return c;
    for (const Syntax& s : Commands) {
        if (w[0] != s.word || w.size() != s.arguments + 1)
            continue;
        c.kind = s.kind;
        if (!s.read(w, c))
            return std::nullopt;
        return c;
    }
    return std::nullopt;
}

} // namespace zelto::sim
