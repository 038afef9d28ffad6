#pragma once

#include "serial_base.h"

#include <cstdint>
#include <memory>
#include <string>

namespace zelto {

class CtsWaiter;

// A serial port of a POSIX system, driven through termios.
//
// The port is named by number, COM n being /dev/ttyS(n-1) for n from 1 to 255 (1 at creation), or
// by any device path (a USB adapter, a pseudo-terminal), which takes precedence over the number
// while it is set. Opening is exclusive: a second opener of the same device, in this or another
// process, fails with err::PortInUse until the first one closes it. The number and the path can
// only be changed while the port is closed (err::PortAlreadyOpen). The line rules are SerialBase's.
//
// Every failure is an AutomationError with one of the err::Port... numbers (or err::NoSuchPort,
// err::PermissionDenied, err::DeviceGone, err::LinkTimeout), or one of SerialBase's.
class PosixSerial : public SerialBase {
  public:
    PosixSerial();
    explicit PosixSerial(std::string devicePath);
    ~PosixSerial() override;
    PosixSerial(const PosixSerial&) = delete;
    PosixSerial& operator=(const PosixSerial&) = delete;

    // The device a port number stands for.
    static std::string deviceForPort(int16_t port);

    // An empty path returns to the port number.
    void setDevicePath(std::string devicePath);
    // The device that opening uses: the path when set, else the one of the port number.
    std::string devicePath() const;

    bool portOpen() const override { return m_fd >= 0; }

  private:
    void openPort() override;
    void closePort() override;
    // A port without modem lines (a pseudo-terminal) reports the line asserted. While the line is
    // low a wait sleeps in the kernel until it changes, where the driver can (a CtsWaiter thread
    // per open port, started by the first such wait), and otherwise samples it every millisecond.
    bool readCts(Millis maxWait) override;
    void writeBytes(const Bytes& bytes) override;
    // At most InputLen bytes (0: all that are waiting), one with the board object's set-up.
    Bytes readBytes(Millis maxWait) override;
    void lineChanged() override { applyLine(); }
    void modemLinesChanged() override { applyModemLines(); }

    void applyLine();
    void applyModemLines();
    [[noreturn]] void fail(int32_t number, int error) const;
    [[noreturn]] void failIo(int error);
    // Waits up to maxWait for received bytes and appends what one read gives (at most InputLen
    // bytes) to m_received.
    void receive(Millis maxWait);
    // Sleeps up to left or until the line may have changed; false when the port offers no such
    // wait and the caller has to sample.
    bool awaitCtsChange(std::chrono::steady_clock::duration left);

    int m_fd = -1;
    std::string m_path;
    // Received bytes fetched from the terminal but not handed out yet (InputLen changed, or 0).
    Bytes m_received;
    std::unique_ptr<CtsWaiter> m_ctsWaiter;
    // The driver has no modem-status wait (or it failed): the line is sampled until closing.
    bool m_ctsSampled = false;
};

} // namespace zelto
