#pragma once

#include "serial_base.h"

#include <windows.h>

#include <string>

namespace zelto {

// The serial component on Windows: port n is \\.\COMn. Reads and writes block in the operating
// system, bounded by the port's timeouts, and wake when the byte comes or the write goes; a wait
// for clear-to-send looks at the line every millisecond and sleeps in between, with the system's
// timer resolution raised to a millisecond while any such wait lasts. Opening is exclusive, also
// where the system does not enforce it (Wine): while a port is open, a named object of the port
// exists, and an opener that finds it already there is refused. The line rules are SerialBase's.
class Win32Serial final : public SerialBase {
  public:
    Win32Serial() = default;
    ~Win32Serial() override;
    Win32Serial(const Win32Serial&) = delete;
    Win32Serial& operator=(const Win32Serial&) = delete;

    bool portOpen() const override { return m_handle != INVALID_HANDLE_VALUE; }
    void beginWait() override;
    void endWait() override;

  private:
    void openPort() override;
    void closePort() override;
    bool claimPort() override;
    void releasePort() override;
    bool readCts(Millis maxWait) override;
    void writeBytes(const Bytes& bytes) override;
    // One byte at a time whatever the input length.
    Bytes readBytes(Millis maxWait) override;
    void lineChanged() override { applyLine(); }
    void modemLinesChanged() override { applyLine(); }

    void applyLine(); // the DCB from the settings, handshaking, DTR and RTS
    void setReadTimeout(DWORD ms);

    HANDLE m_handle = INVALID_HANDLE_VALUE;
    HANDLE m_claim = nullptr;

    DWORD m_readTimeout = MAXDWORD - 1; // what the port is set to; MAXDWORD - 1 = not yet set
    int m_waits = 0;                    // nesting of beginWait
};

// The component's error number for a Win32 error code met while opening (opening true) or using the
// port.
int32_t serialErrorNumber(DWORD code, bool opening);

} // namespace zelto
