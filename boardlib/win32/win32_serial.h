#pragma once

#include "serial_component.h"

#include <windows.h>

#include <string>

namespace zelto {

// Parses "baud,parity,data,stop" as in "57600,N,8,1"; raises 5 when it is malformed.
struct ParsedSettings {
    DWORD baud;
    BYTE parity;
    BYTE dataBits;
    BYTE stopBits;
};
ParsedSettings parseSettings(const std::string& settings);

// The serial component on Windows: port n is \\.\COMn. Reads and writes block in the operating
// system, bounded by the port's timeouts, and wake when the byte comes or the write goes; a wait
// for clear-to-send looks at the line every millisecond and sleeps in between.
class Win32Serial final : public SerialComponent {
  public:
    Win32Serial() = default;
    ~Win32Serial() override;
    Win32Serial(const Win32Serial&) = delete;
    Win32Serial& operator=(const Win32Serial&) = delete;

    int16_t commPort() const override { return m_port; }
    void setCommPort(int16_t port) override;

    bool portOpen() const override { return m_handle != INVALID_HANDLE_VALUE; }
    void setPortOpen(bool open) override;

    bool ctsHolding(Millis maxWait = Millis{0}) override;
    void setOutput(const Bytes& bytes) override;
    Bytes input(Millis maxWait = Millis{0}) override;

    void setDTREnable(bool enable) override;
    void setHandshaking(int16_t mode) override;
    void setInputLen(int16_t length) override;
    void setRTSEnable(bool enable) override;
    void setSettings(const std::string& settings) override;
    void setSThreshold(int16_t threshold) override;

    // How long a write may be held back by flow control before it fails with LinkTimeout.
    static constexpr DWORD kWriteTimeoutMs = 5000;

  private:
    void open();
    void close();
    void applyLine(); // the DCB from the settings, handshaking, DTR and RTS
    void requireOpen() const;
    void setReadTimeout(DWORD ms);

    int16_t m_port = 1;
    HANDLE m_handle = INVALID_HANDLE_VALUE;
    ParsedSettings m_line{9600, NOPARITY, 8, ONESTOPBIT};
    int16_t m_handshaking = 0;
    bool m_dtr = false;
    bool m_rts = false;
    int16_t m_inputLen = 0;
    int16_t m_sThreshold = 0;

    DWORD m_readTimeout = MAXDWORD - 1; // what the port is set to; MAXDWORD - 1 = not yet set
    bool m_noModemLines = false;        // the driver said so: the line counts as asserted
};

// The component's error number for a Win32 error code met while opening (opening true) or using the
// port.
int32_t serialErrorNumber(DWORD code, bool opening);

} // namespace zelto
