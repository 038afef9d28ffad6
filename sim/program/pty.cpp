#include "pty.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace zelto::sim {

Pty::~Pty() {
    if (m_watch >= 0)
        close(m_watch);
    if (m_slave >= 0)
        close(m_slave);
    if (m_master >= 0)
        close(m_master);
}

bool Pty::open() {
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
        return false;
    const char* name = ptsname(m_master);
    if (name == nullptr)
        return false;
    m_device = name;
    // Holding the other end open keeps the master readable while no client has the device open.
    m_slave = ::open(m_device.c_str(), O_RDWR | O_NOCTTY);
    if (m_slave < 0)
        return false;
    termios t{};
    if (tcgetattr(m_slave, &t) != 0)
        return false;
    cfmakeraw(&t);
    cfsetispeed(&t, B57600);
    cfsetospeed(&t, B57600);
    t.c_cflag |= CLOCAL | CREAD;
    if (tcsetattr(m_slave, TCSANOW, &t) != 0)
        return false;
    // Opened after the program's own end, so that only clients count.
    m_watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_watch < 0 || inotify_add_watch(m_watch, m_device.c_str(), IN_OPEN | IN_CLOSE) < 0)
        return false;
    return fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK) == 0;
}

Pty::Clients Pty::clientChanges() {
    Clients c;
    alignas(inotify_event) char buf[4096];
    ssize_t n = 0;
    while ((n = read(m_watch, buf, sizeof buf)) > 0) {
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            // An opener that is refused (the port in use) opens and closes beside the client.
            if (e->mask & IN_OPEN) {
                if (m_clients++ == 0) {
                    c.came = true;
                    c.allLeft = false;
                }
            } else if ((e->mask & IN_CLOSE) && m_clients > 0 && --m_clients == 0) {
                c.allLeft = true;
            }
        }
    }
    return c;
}

void Pty::dropUnread() {
    tcflush(m_slave, TCIFLUSH);
}

void DeviceLink::remove() {
    if (m_path.empty())
        return;
    char target[4096];
    const ssize_t n = readlink(m_path.c_str(), target, sizeof target - 1);
    if (n >= 0 && std::string(target, static_cast<std::size_t>(n)) == m_device)
        unlink(m_path.c_str());
    m_path.clear();
}

bool DeviceLink::create(const std::string& path, const std::string& device, std::string& error) {
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            error = path + " exists and is no symbolic link";
            return false;
        }
        unlink(path.c_str());
    }
    if (symlink(device.c_str(), path.c_str()) != 0) {
        error = "cannot link " + path + ": " + std::strerror(errno);
        return false;
    }
    m_path = path;
    m_device = device;
    return true;
}

bool CtsFile::write(bool asserted) const {
    if (!enabled())
        return true;
    const std::string tmp = m_path + ".tmp";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    const char c = asserted ? '1' : '0';
    const bool ok = ::write(fd, &c, 1) == 1;
    if (close(fd) == 0 && ok && rename(tmp.c_str(), m_path.c_str()) == 0)
        return true;
    const int error = errno;
    ::unlink(tmp.c_str());
    errno = error;
    return false;
}

} // namespace zelto::sim
