#include "sim_log.h"

namespace zelto::sim {
namespace {

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

// The length of the leading "XX XX ..." pairs; 0 when the text does not start with one.
std::size_t hexPairsLength(std::string_view s) {
    std::size_t n = 0;
    while (n + 2 <= s.size() && isHexDigit(s[n]) && isHexDigit(s[n + 1]) &&
           (n + 2 == s.size() || s[n + 2] == ' ')) {
        n += 3;
    }
    return n == 0 ? 0 : n - 1;
}

} // namespace

std::string writeLogLine(const LogLine& line) {
    std::string out = line.bytes;
    out.resize(out.size() < TextColumn ? TextColumn : out.size() + 1, ' ');
    out += line.text;
    if (!line.reply.empty())
        out += " -> " + line.reply;
    if (!line.note.empty())
        out += " [" + line.note + "]";
    return out;
}

std::optional<LogLine> parseLogLine(std::string_view s) {
    LogLine out;
    const std::size_t bytesEnd = hexPairsLength(s);
    if (bytesEnd == 0 || bytesEnd >= s.size())
        return std::nullopt;
    out.bytes = s.substr(0, bytesEnd);
    const std::size_t textStart = s.find_first_not_of(' ', bytesEnd);
    if (textStart == std::string_view::npos)
        return std::nullopt;
    s.remove_prefix(textStart);
    if (s.back() == ']') {
        if (const auto open = s.rfind(" ["); open != std::string_view::npos) {
            out.note = s.substr(open + 2, s.size() - open - 3);
            s = s.substr(0, open);
        }
    }
    if (const auto arrow = s.rfind(" -> "); arrow != std::string_view::npos) {
        const std::string_view reply = s.substr(arrow + 4);
        if (!reply.empty() && hexPairsLength(reply) == reply.size()) {
            out.reply = reply;
            s = s.substr(0, arrow);
        }
    }
    out.text = s;
    return out;
}

} // namespace zelto::sim
