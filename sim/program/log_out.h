#pragma once

#include <cstdint>
#include <string>

namespace zelto::sim {

// The simulator's log, whole lines to standard output, a file or nowhere, that never holds up the
// board: a line that cannot be written at once (a pipe whose reader has stopped reading) is
// dropped and counted, and "# N lines dropped" goes out before the next line that can be written.
class LogOut {
  public:
    LogOut() = default;
    ~LogOut();
    LogOut(const LogOut&) = delete;
    LogOut& operator=(const LogOut&) = delete;

    // An empty path keeps standard output, "none" writes nothing; false with errno when the file
    // cannot be opened.
    bool open(const std::string& path);
    void line(const std::string& text);

  private:
    bool writeWhole(const std::string& text);

    int m_fd = 1;
    bool m_owned = false;
    uint64_t m_dropped = 0;
};

} // namespace zelto::sim
