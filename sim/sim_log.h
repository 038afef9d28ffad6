#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zelto::sim {

// One line of the simulator's log: a command the board decoded, e.g.
//   "30          a2d pin 0 -> 03 FF"
//   "01          ok -> 33 [silent]"
// The bytes as hexadecimal pairs fill the first TextColumn columns (the longest command, four
// bytes, takes eleven), the text follows, then " -> " and the answer when the board answered,
// then a note in brackets when the program held the answer back or changed it. Lines that begin
// with "#" answer control commands; the program's first line is the device it serves.
struct LogLine {
    std::string bytes; // "30"
    std::string text;  // "a2d pin 0"
    std::string reply; // "03 FF"; empty when the board did not answer
    std::string note;  // "silent"; empty when none
    bool operator==(const LogLine&) const = default;
};

inline constexpr std::size_t TextColumn = 12;

std::string writeLogLine(const LogLine& line);

// The fields of a decoded command's line; nothing for the device line, answers to control
// commands and anything else not written by writeLogLine.
std::optional<LogLine> parseLogLine(std::string_view line);

} // namespace zelto::sim
