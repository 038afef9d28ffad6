#pragma once

#include "serial_base.h"
#include "telnet_comport.h"

#include <memory>
#include <string>

namespace zelto {

// A serial port on another machine, named rfc2217://HOST:PORT (a telnet server with the COM-PORT
// option, which sets the line and reports the modem lines) or socket://HOST:PORT (a raw TCP bridge:
// no line settings, clear-to-send reads as asserted). HOST may be a name, an address or an IPv6
// address in brackets.
//
// With the COM-PORT option, the server's port has hardware flow control: its UART holds written
// bytes while clear-to-send is low, so a command is not held back here (see farEndWaitsForCts);
// clear-to-send reads as the server last reported it. Every wait is bounded: connecting and the
// server's agreement to the line take at most ConnectLimit each.
//
// Failures, as close to a local port's as the cause allows: a host that does not resolve, refuses
// or does not answer within ConnectLimit, or a server that does not serve the COM-PORT option:
// err::NoSuchPort; a server that closes the connection before agreeing (a second client while
// another is served): err::PortInUse; a server that sets other line values than asked:
// err::PortIoError; a connection lost while open: err::DeviceGone.
class NetworkSerial : public SerialBase {
  public:
    explicit NetworkSerial(std::string address);
    ~NetworkSerial() override;
    NetworkSerial(const NetworkSerial&) = delete;
    NetworkSerial& operator=(const NetworkSerial&) = delete;

    // Whether a port text names a port on the network.
    static bool names(const std::string& port);

    bool portOpen() const override { return m_fd >= 0; }
    bool farEndWaitsForCts() const override { return m_comPort; }

    static constexpr Millis ConnectLimit{5000};

  private:
    void openPort() override;
    void closePort() override;
    bool readCts(Millis maxWait) override;
    void writeBytes(const Bytes& bytes) override;
    Bytes readBytes(Millis maxWait) override;
    void lineChanged() override;
    void modemLinesChanged() override;

    [[noreturn]] void fail(int32_t number, const std::string& why) const;
    void connectTo();
    void send(const Bytes& bytes);
    // The SET-CONTROL value of the handshaking setting.
    uint8_t flowControl() const;
    void sendLine();
    void sendModemLines();
    // Reads what the server sent, waiting up to maxWait for something; false when nothing came.
    bool receive(Millis maxWait);
    void handle(const telnet::Event& e);

    std::string m_address;
    std::string m_host;
    std::string m_service;
    bool m_comPort = false;
    int m_fd = -1;
    telnet::Decoder m_decoder;
    Bytes m_received;
    bool m_cts = true;
    bool m_lost = false;
    // What the server agreed to during the opening.
    bool m_refused = false;
    bool m_agreed = false;
    bool m_baudAnswered = false;
    bool m_flowAnswered = false;
    uint32_t m_baudSet = 0;
    uint8_t m_flowSet = 0;
};

// The serial component a device text names: a port on the network (rfc2217://HOST:PORT,
// socket://HOST:PORT) or a local device path.
std::unique_ptr<SerialBase> serialComponentFor(const std::string& device);

} // namespace zelto
