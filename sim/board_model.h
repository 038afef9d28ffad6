#pragma once

#include "encoding.h"
#include "sim_log.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zelto::sim {

// The bytes as upper-case hexadecimal pairs separated by blanks: "03 FF".
std::string hex(const Bytes& bytes);

// A model of the I/O board. It decodes the byte stream it is fed the way the board reads it, keeps
// the board's state and answers with the board's reply bytes. It is written from the command map,
// independently of the board object, so that tests can compare what a sender meant with what the
// board understood.
//
// Board behaviour chosen here (the wire format leaves it to the board):
// - Direction: a set bit of tris makes the pin an input. At power-up tris is 0xFF (all inputs).
// - The port read (0x57) and inp answer the output latch on output pins and the level applied from
//   outside (State::inputs) on input pins. inp answers 0x31 for high and 0x30 for low. high, low
//   and toggle change the latch only, never the direction.
// - The EEPROM covers the whole 16-bit address range (64 KiB) and is 0xFF when new.
// - The operand register keeps its value until the next operand load; a command that uses it
//   without an operand load right before is noted in the log as "(no operand loaded)".
// - Reset all (0x5C) restores the power-up values of direction, latch, LED, PWM, counter set-up,
//   counter value, converter configuration and repeat count. It keeps the EEPROM, the outside
//   world (analog inputs, input levels, measurement answers) and the records of the last requests.
// - 0x00 does nothing; it ends any incomplete command like every command byte does.
class BoardModel {
  public:
    static constexpr std::size_t EepromSize = 65536;
    static constexpr uint8_t OkAnswer = 0x33;
    static constexpr uint8_t InputLow = 0x30;
    static constexpr uint8_t InputHigh = 0x31;

    struct Pwm {
        int duty = 0;
        int fduration = 0;
        bool operator==(const Pwm&) const = default;
    };
    struct Tone {
        int pin = 0;
        int tone = 0;
        int duration = 0;
        bool operator==(const Tone&) const = default;
    };
    // A request on a pin with one value: the duration of count, the period of pulseout, the state
    // of pulsein and rctime.
    struct PinRequest {
        int pin = 0;
        int value = 0;
        bool operator==(const PinRequest&) const = default;
    };

    struct State {
        uint8_t tris = 0xFF;
        uint8_t latch = 0;
        uint8_t inputs = 0; // levels applied from outside, for pins set as inputs
        bool led = false;
        std::vector<uint8_t> eeprom = std::vector<uint8_t>(EepromSize, 0xFF);
        uint16_t operand = 0;
        int prescaleCode = 0; // 0..3: division by 1, 2, 4, 8
        bool countMode = false;
        uint16_t counter = 0;
        Pwm pwmChannel;
        std::array<Pwm, 8> pwmPin{};
        uint8_t a2dConfig = 0;
        int repeatOperand = 0; // the repeat count less one, as received
        std::array<uint16_t, 8> analog{};
        uint16_t countAnswer = 0;
        uint16_t pulseinAnswer = 0;
        uint16_t rctimeAnswer = 0;
        std::optional<Tone> lastTone;
        std::optional<PinRequest> lastPulseout;
        std::optional<PinRequest> lastCount;
        std::optional<PinRequest> lastPulsein;
        std::optional<PinRequest> lastRctime;
        int resets = 0;

        // What the board reads on its port: the latch on outputs, the outside levels on inputs.
        uint8_t portValue() const;
    };

    // One decoded command, or one malformed piece of the stream.
    struct Event {
        uint8_t command = 0; // the command byte; for a stray data byte that byte
        Bytes bytes;         // every byte of it, as received
        std::string text;    // in plain words
        Bytes reply;
        bool malformed = false;
        LogLine logLine() const;
        // "30          a2d pin 0 -> 03 FF"
        std::string line() const { return writeLogLine(logLine()); }
    };

    BoardModel() = default;

    // Decodes the bytes in order and returns the board's reply bytes.
    Bytes feed(const Bytes& bytes);
    Bytes feed(uint8_t byte);

    State& state() { return m_state; }
    const State& state() const { return m_state; }

    const std::vector<Event>& events() const { return m_events; }
    std::vector<std::string> log() const;
    void clearLog() { m_events.clear(); }
    // Malformed pieces seen since creation: stray data bytes, cut-short and unknown commands.
    int malformedCount() const { return m_malformed; }
    // True while the bytes of a command are still incomplete.
    bool midCommand() const { return !m_pending.empty(); }

  private:
    void commandByte(uint8_t byte);
    void execute(Bytes& reply);
    void record(Event event, Bytes& reply);
    void malformed(Bytes bytes, std::string text);

    State m_state;
    std::vector<Event> m_events;
    Bytes m_pending;          // the incomplete command, from its command byte on
    std::size_t m_needed = 0; // its length when complete
    bool m_operandFresh = false;
    int m_malformed = 0;
};

} // namespace zelto::sim
