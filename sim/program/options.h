#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zelto::sim {

// The whole numbers an option and the control command that changes the same setting accept.
struct Range {
    long min;
    long max;
};
inline constexpr Range AnalogPin{0, 7};
inline constexpr Range AnalogValue{0, 65535};
inline constexpr Range PortPin{0, 7};
inline constexpr Range Level{0, 1};
inline constexpr Range Answer{0, 65535};
inline constexpr Range DelayMs{0, 600000};
inline constexpr Range StrayBytes{0, 10000};

// A decimal whole number within the range, and nothing else.
std::optional<long> parseIn(const std::string& text, Range range);
// A finite decimal number.
std::optional<double> parseNumber(const std::string& text);
// "0..7"
std::string rangeText(Range range);

struct Options {
    std::string link;
    std::vector<std::pair<int, int>> analog;
    std::optional<double> temperature;
    long delayMs = 0;
    bool silent = false;
    long stray = 0;
    bool pace = false;
    std::string ctsFile;
    std::string log; // empty: standard output
};

// The options of the command line. Prints the help and exits with 0 on --help; prints the fault
// and exits with 2 on a bad option.
Options parseOptions(int argc, char** argv);

} // namespace zelto::sim
