#include "board_model.h"

#include <cstdio>
#include <utility>

namespace zelto::sim {
namespace {

constexpr bool isData(uint8_t byte) {
    return (byte & 0x80) != 0;
}
constexpr int select(uint8_t cmd) {
    return (cmd >> 1) & 7;
}
constexpr int lowbit(uint8_t cmd) {
    return cmd & 1;
}

// An 8-bit value: bit 0 in the command byte, bits 1..7 in the data byte.
constexpr int value8(uint8_t cmd, uint8_t data) {
    return (data & 127) * 2 + lowbit(cmd);
}

Bytes word(uint16_t value) {
    return Bytes{static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
}

std::string onOff(bool on) {
    return on ? "on" : "off";
}

// A command being carried out, as its handler sees it.
struct Run {
    BoardModel::State& s;
    BoardModel::Event& e;
    bool operandFresh; // an operand load came right before

    uint8_t cmd() const { return e.command; }
    int pin() const { return select(e.command); }
    std::string pinText() const { return " pin " + std::to_string(pin()); }
    int low() const { return lowbit(e.command); }
    uint8_t data(std::size_t n) const { return byteAt(e.bytes, n); }
    // The command byte's bit and the first data byte's seven.
    int value8() const { return sim::value8(e.command, data(1)); }
    // The operand register, and the log's note when no operand load came right before.
    uint16_t operand(std::string& note) const {
        note = operandFresh ? "" : " (no operand loaded)";
        return s.operand;
    }
    void reply(uint8_t byte) { e.reply = Bytes(1, static_cast<char>(byte)); }
    void reply(uint16_t value) { e.reply = word(value); }
};

void extended(Run& r);
void resetAll(Run& r);

// The command map as the board reads it: a command byte belongs to the first row whose code it
// matches in the mask's bits (the others carry a pin or a value bit). A byte no row matches is
// an unknown command of one byte.
struct Row {
    uint8_t code;
    uint8_t mask;
    std::size_t length; // with its data bytes; an extended command may grow (see feed)
    const char* name;   // for a command cut short; one with a pin in its byte names the pin
    void (*handler)(Run&);
};

constexpr uint8_t OperandLoad = 0x08;

const Row Rows[] = {
    {0x00, 0xFF, 1, "sync", [](Run& r) { r.e.text = "sync"; }},
    {0x01, 0xFF, 1, "ok",
     [](Run& r) {
         r.e.text = "ok";
         r.reply(BoardModel::OkAnswer);
     }},
    {0x02, 0xFE, 2, "tris set",
     [](Run& r) {
         r.s.tris = static_cast<uint8_t>(r.value8());
         r.e.text = "tris set " + std::to_string(r.s.tris);
     }},
    {0x04, 0xFE, 2, "pins set",
     [](Run& r) {
         r.s.latch = static_cast<uint8_t>(r.value8());
         r.e.text = "pins set " + std::to_string(r.s.latch);
     }},
    {OperandLoad, 0xFC, 3, "operand load",
     [](Run& r) {
         r.s.operand = static_cast<uint16_t>((r.data(1) & 127) * 512 + r.low() * 256 +
                                             (r.data(2) & 127) * 2 + r.pin() - 4);
         r.e.text = "load operand " + std::to_string(r.s.operand);
     }},
    {0x0C, 0xFE, 1, "led",
     [](Run& r) {
         r.s.led = r.low() == 1;
         r.e.text = "led " + onOff(r.s.led);
     }},
    {0x0E, 0xFF, 2, "extended command", extended},
    {0x10, 0xF1, 1, "low",
     [](Run& r) {
         r.s.latch = static_cast<uint8_t>(r.s.latch & ~(1 << r.pin()));
         r.e.text = "low" + r.pinText();
     }},
    {0x11, 0xF1, 1, "high",
     [](Run& r) {
         r.s.latch = static_cast<uint8_t>(r.s.latch | (1 << r.pin()));
         r.e.text = "high" + r.pinText();
     }},
    {0x20, 0xF1, 1, "toggle",
     [](Run& r) {
         r.s.latch = static_cast<uint8_t>(r.s.latch ^ (1 << r.pin()));
         r.e.text = "toggle" + r.pinText();
     }},
    {0x21, 0xF1, 1, "inp",
     [](Run& r) {
         const bool high = (r.s.portValue() >> r.pin()) & 1;
         r.e.text = "inp" + r.pinText();
         r.reply(high ? BoardModel::InputHigh : BoardModel::InputLow);
     }},
    {0x30, 0xF1, 1, "a2d",
     [](Run& r) {
         r.e.text = "a2d" + r.pinText();
         r.reply(r.s.analog[static_cast<std::size_t>(r.pin())]);
     }},
    {0x31, 0xFF, 2, "a2d config",
     [](Run& r) {
         // The low bit is always 1 here and is no part of the value.
         r.s.a2dConfig = static_cast<uint8_t>((r.data(1) & 127) * 2);
         r.e.text = "a2d config " + std::to_string(r.s.a2dConfig);
     }},
    {0x40, 0xF1, 1, "count",
     [](Run& r) {
         std::string note;
         const uint16_t duration = r.operand(note);
         r.s.lastCount = BoardModel::PinRequest{r.pin(), duration};
         r.e.text = "count" + r.pinText() + " for " + std::to_string(duration) + note;
         r.reply(r.s.countAnswer);
     }},
    {0x41, 0xF1, 1, "pulseout",
     [](Run& r) {
         std::string note;
         const uint16_t period = r.operand(note);
         r.s.lastPulseout = BoardModel::PinRequest{r.pin(), period};
         r.e.text = "pulseout" + r.pinText() + " period " + std::to_string(period) + note;
     }},
    {0x50, 0xFE, 2, "eeprom write",
     [](Run& r) {
         std::string note;
         const uint16_t address = r.operand(note);
         r.s.eeprom[address] = static_cast<uint8_t>(r.value8());
         r.e.text =
             "eeprom write " + std::to_string(r.value8()) + " at " + std::to_string(address) + note;
     }},
    {0x52, 0xFF, 1, "eeprom read",
     [](Run& r) {
         std::string note;
         const uint16_t address = r.operand(note);
         r.e.text = "eeprom read at " + std::to_string(address) + note;
         r.reply(r.s.eeprom[address]);
     }},
    {0x54, 0xFE, 2, "pwm channel",
     [](Run& r) {
         std::string note;
         const uint16_t fduration = r.operand(note);
         r.s.pwmChannel = BoardModel::Pwm{r.value8(), fduration};
         r.e.text = "pwm channel duty " + std::to_string(r.s.pwmChannel.duty) + " fduration " +
                    std::to_string(fduration) + note;
     }},
    {0x56, 0xFF, 1, "tris get",
     [](Run& r) {
         r.e.text = "tris get";
         r.reply(r.s.tris);
     }},
    {0x57, 0xFF, 1, "pins get",
     [](Run& r) {
         r.e.text = "pins get";
         r.reply(r.s.portValue());
     }},
    {0x5A, 0xFF, 1, "counter get",
     [](Run& r) {
         r.e.text = "counter get";
         r.reply(r.s.counter);
     }},
    {0x5B, 0xFF, 1, "repeat operand",
     [](Run& r) {
         std::string note;
         r.s.repeatOperand = r.operand(note);
         r.e.text = "repeat operand " + std::to_string(r.s.repeatOperand) + note;
     }},
    {0x5C, 0xFF, 1, "reset all", resetAll},
    {0x60, 0xF0, 2, "pwm pin",
     [](Run& r) {
         std::string note;
         const uint16_t fduration = r.operand(note);
         BoardModel::Pwm& pwm = r.s.pwmPin[static_cast<std::size_t>(r.pin())];
         pwm = BoardModel::Pwm{r.value8(), fduration};
         r.e.text = "pwm" + r.pinText() + " duty " + std::to_string(pwm.duty) + " fduration " +
                    std::to_string(fduration) + note;
     }},
    {0x70, 0xF0, 1, "pulsein",
     [](Run& r) {
         r.s.lastPulsein = BoardModel::PinRequest{r.pin(), r.low()};
         r.e.text = "pulsein" + r.pinText() + " state " + std::to_string(r.low());
         r.reply(r.s.pulseinAnswer);
     }},
};

const Row* rowOf(uint8_t cmd) {
    for (const Row& row : Rows)
        if ((cmd & row.mask) == row.code)
            return &row;
    return nullptr;
}

std::size_t lengthOf(uint8_t cmd) {
    const Row* row = rowOf(cmd);
    return row ? row->length : 1;
}

// Only commands of more than one byte can be cut short, and every one of them has a row.
std::string nameOf(uint8_t cmd) {
    const Row& row = *rowOf(cmd);
    const bool pinInByte = (row.mask & 0x0E) == 0;
    return pinInByte ? std::string(row.name) + " " + std::to_string(select(cmd)) : row.name;
}

// The power-up values of the board's own registers; the outside world, the EEPROM and the
// records of the last requests stay.
void resetAll(Run& r) {
    BoardModel::State& s = r.s;
    BoardModel::State fresh;
    fresh.eeprom = std::move(s.eeprom);
    fresh.operand = s.operand;
    fresh.inputs = s.inputs;
    fresh.analog = s.analog;
    fresh.countAnswer = s.countAnswer;
    fresh.pulseinAnswer = s.pulseinAnswer;
    fresh.rctimeAnswer = s.rctimeAnswer;
    fresh.lastTone = s.lastTone;
    fresh.lastPulseout = s.lastPulseout;
    fresh.lastCount = s.lastCount;
    fresh.lastPulsein = s.lastPulsein;
    fresh.lastRctime = s.lastRctime;
    fresh.resets = s.resets + 1;
    s = std::move(fresh);
    r.e.text = "reset all";
}

// The extended command: its first data byte tells a tone, the counter's set-up or rctime.
void extended(Run& r) {
    BoardModel::State& s = r.s;
    const uint8_t d1 = r.data(1);
    const int pin = (d1 >> 1) & 7;
    if ((d1 & 0xF0) == 0x80) {
        std::string note;
        const uint16_t duration = r.operand(note);
        const int tone = (d1 & 1) + (r.data(2) & 127) * 256 + (r.data(3) & 127) * 2;
        s.lastTone = BoardModel::Tone{pin, tone, duration};
        r.e.text = "tone pin " + std::to_string(pin) + " value " + std::to_string(tone) +
                   " duration " + std::to_string(duration) + note;
    } else if ((d1 & 0xF8) == 0x90) {
        s.prescaleCode = (d1 >> 1) & 3;
        s.countMode = (d1 & 1) != 0;
        r.e.text = "counter setup prescale " + std::to_string(1 << s.prescaleCode) + " mode " +
                   std::to_string(d1 & 1);
    } else if ((d1 & 0xF0) == 0xA0) {
        s.lastRctime = BoardModel::PinRequest{pin, d1 & 1};
        r.e.text = "rctime pin " + std::to_string(pin) + " state " + std::to_string(d1 & 1);
        r.reply(s.rctimeAnswer);
    } else {
        r.e.text = "unknown extended command";
        r.e.malformed = true;
    }
}

} // namespace

std::string hex(const Bytes& bytes) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02X", byteAt(bytes, i));
        if (i > 0)
            out += ' ';
        out += pair;
    }
    return out;
}

uint8_t BoardModel::State::portValue() const {
    return static_cast<uint8_t>((latch & ~tris) | (inputs & tris));
}

LogLine BoardModel::Event::logLine() const {
    return LogLine{hex(bytes), text, hex(reply), {}};
}

std::vector<std::string> BoardModel::log() const {
    std::vector<std::string> lines;
    lines.reserve(m_events.size());
    for (const Event& event : m_events)
        lines.push_back(event.line());
    return lines;
}

Bytes BoardModel::feed(const Bytes& bytes) {
    Bytes reply;
    for (char c : bytes)
        reply += feed(static_cast<uint8_t>(c));
    return reply;
}

Bytes BoardModel::feed(uint8_t byte) {
    Bytes reply;
    if (!isData(byte)) {
        commandByte(byte);
    } else if (m_pending.empty()) {
        malformed(Bytes(1, static_cast<char>(byte)), "stray data byte");
    } else {
        m_pending += static_cast<char>(byte);
        // The first data byte after 0x0E tells whether two more follow (a tone).
        if (byteAt(m_pending, 0) == 0x0E && m_pending.size() == 2 && (byte & 0xF0) == 0x80)
            m_needed = 4;
    }
    if (!m_pending.empty() && m_pending.size() == m_needed)
        execute(reply);
    return reply;
}

void BoardModel::commandByte(uint8_t byte) {
    if (!m_pending.empty()) {
        std::string name = nameOf(byteAt(m_pending, 0));
        malformed(std::exchange(m_pending, {}), "incomplete " + name + " cut short");
    }
    m_pending = Bytes(1, static_cast<char>(byte));
    m_needed = lengthOf(byte);
}

void BoardModel::malformed(Bytes bytes, std::string text) {
    Event event;
    event.command = byteAt(bytes, 0);
    event.bytes = std::move(bytes);
    event.text = std::move(text);
    event.malformed = true;
    m_events.push_back(std::move(event));
    ++m_malformed;
    m_operandFresh = false;
}

void BoardModel::record(Event event, Bytes& reply) {
    reply += event.reply;
    if (event.malformed)
        ++m_malformed;
    m_events.push_back(std::move(event));
}

void BoardModel::execute(Bytes& reply) {
    Event e;
    e.bytes = std::exchange(m_pending, {});
    e.command = byteAt(e.bytes, 0);
    const Row* row = rowOf(e.command);
    if (row) {
        Run run{m_state, e, m_operandFresh};
        row->handler(run);
    } else {
        e.text = "unknown command";
        e.malformed = true;
    }
    // Only an operand load leaves the operand fresh for the command after it.
    m_operandFresh = row && row->code == OperandLoad;
    record(std::move(e), reply);
}

} // namespace zelto::sim
