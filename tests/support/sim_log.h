#pragma once

// The simulator's log: one line per command the board decoded, "30          a2d pin 0 -> 03 FF".

#include <string>
#include <vector>

namespace zelto::test {

struct LoggedCommand {
    std::string bytes; // "30"
    std::string text;  // "a2d pin 0"
    std::string reply; // "03 FF"; empty when the board did not answer
};

inline LoggedCommand parseLogLine(const std::string& line) {
    auto trim = [](const std::string& s) {
        const auto first = s.find_first_not_of(' ');
        return first == std::string::npos ? std::string()
                                          : s.substr(first, s.find_last_not_of(' ') - first + 1);
    };
    LoggedCommand c;
    c.bytes = trim(line.substr(0, 12));
    std::string rest = line.size() > 12 ? line.substr(12) : "";
    if (const auto arrow = rest.find(" -> "); arrow != std::string::npos) {
        c.reply = trim(rest.substr(arrow + 4));
        if (const auto note = c.reply.find(" ["); note != std::string::npos)
            c.reply = c.reply.substr(0, note);
        rest = rest.substr(0, arrow);
    }
    c.text = trim(rest);
    return c;
}

// The commands in a stretch of the simulator's output: whole lines only, without the answers to
// control commands ("# ...") and the device line.
inline std::vector<LoggedCommand> parseLog(const std::string& text) {
    std::vector<LoggedCommand> out;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = text.substr(start, end - start);
        if (!line.empty() && line[0] != '#' && line[0] != '/')
            out.push_back(parseLogLine(line));
    }
    return out;
}

} // namespace zelto::test
