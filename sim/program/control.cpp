#include "control.h"

#include "options.h"

#include <sstream>
#include <vector>

namespace zelto::sim {
namespace {

std::optional<bool> word(const std::string& w, const char* on, const char* off) {
    if (w == on)
        return true;
    if (w == off)
        return false;
    return std::nullopt;
}

uint16_t BoardModel::State::*answerOf(const std::string& name) {
    using S = BoardModel::State;
    if (name == "count")
        return &S::countAnswer;
    if (name == "pulsein")
        return &S::pulseinAnswer;
    if (name == "rctime")
        return &S::rctimeAnswer;
    if (name == "counter")
        return &S::counter;
    return nullptr;
}

} // namespace

std::optional<Control> parseControl(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> w;
    for (std::string word; in >> word;)
        w.push_back(word);
    Control c;
    for (const std::string& each : w)
        c.echo += (c.echo.empty() ? "" : " ") + each;
    if (w.empty())
        return c;
    using K = Control::Kind;
    const std::string& cmd = w[0];
    auto number = [&](std::size_t i, Range r, long& out) {
        const auto v = parseIn(w[i], r);
        out = v.value_or(0);
        return v.has_value();
    };
    auto flag = [&](const char* on, const char* off) {
        const auto v = word(w[1], on, off);
        c.on = v.value_or(false);
        return v.has_value();
    };
    bool ok = false;
    if (w.size() == 1) {
        c.kind = cmd == "state" ? K::State : K::Quit;
        ok = cmd == "state" || cmd == "quit";
    } else if (w.size() == 3 && (cmd == "analog" || cmd == "input")) {
        const bool analog = cmd == "analog";
        c.kind = analog ? K::Analog : K::Input;
        ok = number(1, analog ? AnalogPin : PortPin, c.pin) &&
             number(2, analog ? AnalogValue : Level, c.value);
    } else if (w.size() == 2) {
        if (cmd == "temperature") {
            c.kind = K::Temperature;
            const auto f = parseNumber(w[1]);
            c.degrees = f.value_or(0);
            ok = f.has_value();
        } else if ((c.answer = answerOf(cmd)) != nullptr) {
            c.kind = K::Answer;
            ok = number(1, Answer, c.value);
        } else if (cmd == "silent" || cmd == "pace") {
            c.kind = cmd == "silent" ? K::Silent : K::Pace;
            ok = flag("on", "off");
        } else if (cmd == "delay") {
            c.kind = K::Delay;
            ok = number(1, DelayMs, c.value);
        } else if (cmd == "stray") {
            c.kind = K::Stray;
            ok = number(1, StrayBytes, c.value);
        } else if (cmd == "cts") {
            c.kind = K::Cts;
            ok = flag("high", "low");
        }
    }
    if (!ok)
        return std::nullopt;
    return c;
}

} // namespace zelto::sim
