#pragma once

#include "board_model.h"

#include <cstdint>
#include <optional>
#include <string>

namespace zelto::sim {

// One control command read on standard input, e.g. "analog 0 512" or "cts low".
struct Control {
    enum class Kind {
        None, // a blank line
        Analog,
        Temperature,
        Input,
        Answer,
        Silent,
        Pace,
        Delay,
        Stray,
        Cts,
        State,
        Quit
    };
    Kind kind = Kind::None;
    long pin = 0;
    long value = 0;     // analog, input, answer, delay, stray
    double degrees = 0; // temperature
    bool on = false;    // silent, pace; cts high
    uint16_t BoardModel::State::*answer = nullptr;
    std::string echo; // the words, joined by one blank
};

// Nothing when the line is no control command or a number is out of its range.
std::optional<Control> parseControl(const std::string& line);

} // namespace zelto::sim
