#pragma once

#include <string>

namespace zelto::sim {

// A pseudo-terminal in raw mode at 57600 baud. The program keeps the board's end (the master,
// non-blocking); clients open device().
class Pty {
  public:
    Pty() = default;
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool open(); // errno tells why not
    int master() const { return m_master; }
    const std::string& device() const { return m_device; }

    // Readable when a client opened or closed the device.
    int clientWatch() const { return m_watch; }
    // What the clients did since the last look: the last one left and none came after, or one
    // came to a device that nobody had open (perhaps after another left).
    struct Clients {
        bool allLeft = false;
        bool came = false;
    };
    Clients clientChanges();
    // Drops the answers that the device holds for a client that has not read them.
    void dropUnread();

  private:
    int m_master = -1;
    int m_slave = -1;
    int m_watch = -1;
    int m_clients = 0;
    std::string m_device;
};

// A symbolic link to the device, removed on destruction while it still points there.
class DeviceLink {
  public:
    DeviceLink() = default;
    ~DeviceLink() { remove(); }
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    // Replaces an old link at path, never another kind of file; fills error when it fails.
    bool create(const std::string& path, const std::string& device, std::string& error);
    void remove();

  private:
    std::string m_path;
    std::string m_device;
};

// Clear-to-send for the modem-line emulation: a file that holds "1" or "0", written whole.
class CtsFile {
  public:
    explicit CtsFile(std::string path) : m_path(std::move(path)) {}
    bool enabled() const { return !m_path.empty(); }
    const std::string& path() const { return m_path; }
    bool write(bool asserted) const; // true when disabled; errno tells why not

  private:
    std::string m_path;
};

} // namespace zelto::sim
