#include "log_out.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace zelto::sim {

LogOut::~LogOut() {
    if (m_owned)
        ::close(m_fd);
}

bool LogOut::open(const std::string& path) {
    if (path.empty())
        return true;
    if (path == "none") {
        m_fd = -1;
        return true;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    m_fd = fd;
    m_owned = true;
    return true;
}

void LogOut::line(const std::string& text) {
    if (m_fd < 0)
        return;
    if (m_dropped > 0) {
        if (!writeWhole("# " + std::to_string(m_dropped) + " lines dropped\n")) {
            ++m_dropped;
            return;
        }
        m_dropped = 0;
    }
    if (!writeWhole(text + "\n"))
        ++m_dropped;
}

bool LogOut::writeWhole(const std::string& text) {
    // A pipe that reports room takes a line this short whole, without blocking.
    pollfd p{m_fd, POLLOUT, 0};
    if (::poll(&p, 1, 0) != 1 || !(p.revents & POLLOUT))
        return false;
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(m_fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return done > 0; // a line begun is a line written: the rest is lost with the reader
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace zelto::sim
