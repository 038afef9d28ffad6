#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace zelto::test {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A pseudo-terminal whose slave a component under test opens by path; the test plays the far end
// on the master. The test keeps a slave descriptor of its own, opened before the component's
// exclusive open, so that it can look at the line and so that the master never sees a hang-up.
class PtyPair {
  public:
    PtyPair() {
        char name[128];
        if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        m_path = name;
    }
    ~PtyPair() {
        closeMaster();
        if (m_slave >= 0)
            ::close(m_slave);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& path() const { return m_path; }
    int master() const { return m_master; }
    int slave() const { return m_slave; }

    void closeMaster() {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }

    void send(const std::string& bytes) const {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                throw std::runtime_error("write to the master failed");
            done += static_cast<size_t>(n);
        }
    }

    // Up to count bytes from the master, waiting at most limit in all.
    std::string receive(size_t count, milliseconds limit) const {
        std::string got;
        const auto deadline = Clock::now() + limit;
        while (got.size() < count) {
            const auto left =
                std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                break;
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0)
                break;
            char buffer[4096];
            const size_t want = std::min(sizeof buffer, count - got.size());
            const ssize_t n = ::read(m_master, buffer, want);
            if (n <= 0)
                break;
            got.append(buffer, static_cast<size_t>(n));
        }
        return got;
    }

    // True when the master has nothing to read within limit.
    bool quiet(milliseconds limit) const {
        pollfd p{m_master, POLLIN, 0};
        return ::poll(&p, 1, static_cast<int>(limit.count())) == 0;
    }

  private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_path;
};

// A clear-to-send file for the modem-line emulation, changed atomically the way the simulator
// changes it.
class CtsFile {
  public:
    CtsFile() {
        char dir[] = "/tmp/zelto-cts-XXXXXX";
        if (::mkdtemp(dir) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        m_dir = dir;
        m_path = m_dir + "/cts";
    }
    ~CtsFile() {
        std::remove(m_path.c_str());
        std::remove((m_path + ".tmp").c_str());
        ::rmdir(m_dir.c_str());
    }
    CtsFile(const CtsFile&) = delete;
    CtsFile& operator=(const CtsFile&) = delete;

    const std::string& path() const { return m_path; }

    void set(bool asserted) const {
        const std::string tmp = m_path + ".tmp";
        const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::write(fd, asserted ? "1" : "0", 1) != 1)
            throw std::runtime_error("cannot write the CTS file");
        ::close(fd);
        if (std::rename(tmp.c_str(), m_path.c_str()) != 0)
            throw std::runtime_error("cannot rename the CTS file");
    }

  private:
    std::string m_dir;
    std::string m_path;
};

// Points the modem-line emulation of this process at a CTS file for the life of the object.
class EmulatedModemLines {
  public:
    explicit EmulatedModemLines(const std::string& ctsPath) {
        ::setenv("ZELTO_CTS_FILE", ctsPath.c_str(), 1);
    }
    ~EmulatedModemLines() { ::unsetenv("ZELTO_CTS_FILE"); }
    EmulatedModemLines(const EmulatedModemLines&) = delete;
    EmulatedModemLines& operator=(const EmulatedModemLines&) = delete;
};

} // namespace zelto::test
