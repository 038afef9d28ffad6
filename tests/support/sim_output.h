#pragma once

// The simulator's output as tests read it: its log lines through the simulator's own parser.

#include "sim_log.h"

#include <string>
#include <string_view>
#include <vector>

namespace zelto::test {

using LoggedCommand = sim::LogLine;

// A line that is not a decoded command comes back as its text alone.
inline LoggedCommand parseLogLine(std::string_view line) {
    return sim::parseLogLine(line).value_or(LoggedCommand{{}, std::string(line), {}, {}});
}

// The commands in a stretch of the simulator's output: whole lines only, without the answers to
// control commands and the device line.
inline std::vector<LoggedCommand> parseLog(const std::string& text) {
    std::vector<LoggedCommand> out;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        if (auto line = sim::parseLogLine(std::string_view(text).substr(start, end - start)))
            out.push_back(std::move(*line));
    }
    return out;
}

} // namespace zelto::test
