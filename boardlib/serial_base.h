#pragma once

#include "serial_component.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace zelto {

// A settings string read into its parts.
struct LineSettings {
    long baud = 9600;
    char parity = 'N'; // N, E or O
    int dataBits = 8;
    int stopBits = 1;

    // "baud,parity,data bits,stop bits": one of StandardRates, parity N, E or O in either case, 5
    // to 8 data bits, 1 or 2 stop bits, no blanks. Anything else fails with err::InvalidArgument.
    static LineSettings parse(const std::string& text);

    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

// The baud rates a settings string may name, ascending.
inline constexpr long StandardRates[] = {
    50,     75,     110,     134,     150,     200,     300,     600,     1200,    1800,
    2400,   4800,   9600,    19200,   38400,   57600,   115200,  230400,  460800,  500000,
    576000, 921600, 1000000, 1152000, 1500000, 2000000, 2500000, 3000000, 3500000, 4000000,
};

// The rules every serial component shares, so that each one checks the same values the same way
// and fails with the same number:
// - port numbers 1 to 255, else err::InvalidPortNumber; the number cannot change while the port is
//   open, and an open port cannot be opened again (err::PortAlreadyOpen); closing a closed port
//   does nothing; a port that another opener, in this or another process, holds fails with
//   err::PortInUse before anything is opened or written;
// - handshaking 0 none, 1 XON/XOFF, 2 RTS/CTS, 3 both; input length and threshold 0 or more; a
//   settings string as LineSettings::parse reads it; any other value fails with
//   err::InvalidArgument and keeps the previous one;
// - the clear-to-send line, output and input fail with err::PortNotOpen while the port is closed;
// - once a write or a look at clear-to-send found the device gone (err::DeviceGone), both fail
//   with it until the port is closed; a failed read only fails that read, whatever its error;
// - a write held back by flow control for longer than WriteHeldBackLimit fails with
//   err::LinkTimeout.
// A component adds only what its system does: opening, the line, the modem lines, reading and
// writing.
class SerialBase : public SerialComponent {
  public:
    int16_t commPort() const override { return m_port; }
    void setCommPort(int16_t port) override;
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

    int16_t handshaking() const { return m_handshaking; }
    int16_t inputLen() const { return m_inputLen; }
    int16_t sThreshold() const { return m_sThreshold; }
    bool dtrEnable() const { return m_dtr; }
    bool rtsEnable() const { return m_rts; }
    const std::string& settings() const { return m_settings; }
    const LineSettings& line() const { return m_line; }

    static constexpr Millis WriteHeldBackLimit{5000};

  protected:
    // Called with the port closed / open, after the rules were checked.
    virtual void openPort() = 0;
    virtual void closePort() = 0;
    // Where the system itself lets a second opener of a port in, a component keeps it out with a
    // claim on the port, taken before openPort and given back after closePort (or a failed
    // openPort): false when another opener holds it. The default claims nothing.
    virtual bool claimPort() { return true; }
    virtual void releasePort() {}
    // Called with the port open.
    virtual bool readCts(Millis maxWait) = 0;
    virtual void writeBytes(const Bytes& bytes) = 0;
    virtual Bytes readBytes(Millis maxWait) = 0;
    // A line value changed; called in every state, the component applies it when open.
    virtual void lineChanged() {}
    virtual void modemLinesChanged() {}

    [[noreturn]] static void writeHeldBack();
    void requireOpen() const;

  private:
    template <typename F> auto watchingForGone(F&& operation);

    int16_t m_port = 1;
    bool m_dtr = true;
    bool m_rts = true;
    int16_t m_handshaking = 0;
    int16_t m_inputLen = 0;
    int16_t m_sThreshold = 0;
    std::string m_settings = "9600,N,8,1";
    LineSettings m_line;
    std::atomic<bool> m_gone{false};
    std::string m_goneText; // the first finding's text, which names the device
};

} // namespace zelto
