#pragma once

// The telnet side of a serial port served over the network with the COM-PORT option: the frames a
// client sends and a decoder that splits what the server sends into data and telnet events. No
// sockets here, so that every byte sequence can be tried without a network.

#include "encoding.h"

#include <cstdint>
#include <vector>

namespace zelto::telnet {

inline constexpr uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250,
                         SE = 240;
inline constexpr uint8_t BINARY = 0, SUPPRESS_GO_AHEAD = 3, COM_PORT = 44;

// The client's COM-PORT commands; the server answers each with its code plus ServerOffset.
namespace comport {
inline constexpr uint8_t SET_BAUDRATE = 1, SET_DATASIZE = 2, SET_PARITY = 3, SET_STOPSIZE = 4,
                         SET_CONTROL = 5, NOTIFY_MODEMSTATE = 7, SET_MODEMSTATE_MASK = 11;
inline constexpr uint8_t ServerOffset = 100;
// SET-CONTROL values.
inline constexpr uint8_t NO_FLOW = 1, XON_XOFF = 2, HARDWARE_FLOW = 3, DTR_ON = 8, DTR_OFF = 9,
                         RTS_ON = 11, RTS_OFF = 12;
// Bits of a modem state.
inline constexpr uint8_t CTS = 0x10, DELTA_CTS = 0x01;
} // namespace comport

// Data with every 0xFF doubled.
Bytes escape(const Bytes& data);
// IAC verb option.
Bytes negotiation(uint8_t verb, uint8_t option);
// IAC SB COM-PORT code value IAC SE, the value escaped.
Bytes comPortCommand(uint8_t code, const Bytes& value);

struct Event {
    uint8_t verb = 0;   // WILL, WONT, DO, DONT, or SB for a COM-PORT subnegotiation
    uint8_t option = 0; // the option negotiated; COM_PORT for a subnegotiation
    uint8_t code = 0;   // a subnegotiation's command code
    Bytes value;        // and its value, unescaped

    friend bool operator==(const Event&, const Event&) = default;
};

// Reads the server's stream in pieces of any size: data bytes (a doubled 0xFF is one) go to data,
// negotiations and COM-PORT subnegotiations to events, and other telnet commands are dropped.
class Decoder {
  public:
    void feed(const char* bytes, size_t size, Bytes& data, std::vector<Event>& events);

  private:
    enum class State { Data, Command, Option, Sub, SubCommand };
    State m_state = State::Data;
    uint8_t m_verb = 0;
    Bytes m_sub;
};

} // namespace zelto::telnet
