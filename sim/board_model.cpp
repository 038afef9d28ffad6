#include "board_model.h"

#include <cstdio>
#include <utility>

namespace zelto::sim {
namespace {

constexpr bool isData(uint8_t byte) {
    return (byte & 0x80) != 0;
}
constexpr int group(uint8_t cmd) {
    return cmd >> 4;
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

// How many bytes the command that starts with this byte has; 0x0E may grow after its first data
// byte.
std::size_t lengthOf(uint8_t cmd) {
    if (cmd >= 0x02 && cmd <= 0x05)
        return 2; // tris set, pins set
    if (cmd >= 0x08 && cmd <= 0x0B)
        return 3; // operand load
    if (cmd == 0x0E || cmd == 0x31)
        return 2;
    if (cmd == 0x50 || cmd == 0x51 || cmd == 0x54 || cmd == 0x55)
        return 2;
    if (group(cmd) == 6)
        return 2; // pwm on a pin
    return 1;
}

std::string nameOf(uint8_t cmd) {
    if (cmd <= 0x03)
        return "tris set";
    if (cmd <= 0x05)
        return "pins set";
    if (cmd <= 0x0B)
        return "operand load";
    if (cmd == 0x0E)
        return "extended command";
    if (cmd == 0x31)
        return "a2d config";
    if (cmd <= 0x51)
        return "eeprom write";
    if (cmd <= 0x55)
        return "pwm channel";
    return "pwm pin " + std::to_string(select(cmd));
}

std::string onOff(bool on) {
    return on ? "on" : "off";
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

std::string BoardModel::useOperand(uint16_t& value) {
    value = m_state.operand;
    return m_operandFresh ? "" : " (no operand loaded)";
}

void BoardModel::execute(Bytes& reply) {
    State& s = m_state;
    Event e;
    e.bytes = std::exchange(m_pending, {});
    const uint8_t cmd = byteAt(e.bytes, 0);
    e.command = cmd;
    const int p = select(cmd);
    const std::string pin = " pin " + std::to_string(p);
    const uint8_t d1 = e.bytes.size() > 1 ? byteAt(e.bytes, 1) : 0;
    bool loadsOperand = false;
    uint16_t operand = 0;
    auto unknown = [&] {
        e.text = "unknown command";
        e.malformed = true;
    };

    switch (group(cmd)) {
    case 0:
        switch (p) {
        case 0:
            if (lowbit(cmd) == 0) {
                e.text = "sync";
            } else {
                e.text = "ok";
                e.reply = Bytes(1, static_cast<char>(OkAnswer));
            }
            break;
        case 1:
            s.tris = static_cast<uint8_t>(value8(cmd, d1));
            e.text = "tris set " + std::to_string(s.tris);
            break;
        case 2:
            s.latch = static_cast<uint8_t>(value8(cmd, d1));
            e.text = "pins set " + std::to_string(s.latch);
            break;
        case 4:
        case 5: {
            const int d2 = byteAt(e.bytes, 2) & 127;
            s.operand =
                static_cast<uint16_t>((d1 & 127) * 512 + lowbit(cmd) * 256 + d2 * 2 + p - 4);
            e.text = "load operand " + std::to_string(s.operand);
            loadsOperand = true;
            break;
        }
        case 6:
            s.led = lowbit(cmd) == 1;
            e.text = "led " + onOff(s.led);
            break;
        case 7:
            if (lowbit(cmd) == 0)
                extended(e);
            else
                unknown();
            break;
        default:
            unknown();
        }
        break;
    case 1:
        if (lowbit(cmd) == 1)
            s.latch = static_cast<uint8_t>(s.latch | (1 << p));
        else
            s.latch = static_cast<uint8_t>(s.latch & ~(1 << p));
        e.text = (lowbit(cmd) == 1 ? "high" : "low") + pin;
        break;
    case 2:
        if (lowbit(cmd) == 0) {
            s.latch = static_cast<uint8_t>(s.latch ^ (1 << p));
            e.text = "toggle" + pin;
        } else {
            const bool high = (s.portValue() >> p) & 1;
            e.text = "inp" + pin;
            e.reply = Bytes(1, static_cast<char>(high ? InputHigh : InputLow));
        }
        break;
    case 3:
        if (lowbit(cmd) == 0) {
            e.text = "a2d" + pin;
            e.reply = word(s.analog[p]);
        } else if (p == 0) {
            // The low bit is always 1 here and is no part of the value.
            s.a2dConfig = static_cast<uint8_t>((d1 & 127) * 2);
            e.text = "a2d config " + std::to_string(s.a2dConfig);
        } else {
            unknown();
        }
        break;
    case 4: {
        const std::string note = useOperand(operand);
        if (lowbit(cmd) == 0) {
            s.lastCount = PinRequest{p, operand};
            e.text = "count" + pin + " for " + std::to_string(operand) + note;
            e.reply = word(s.countAnswer);
        } else {
            s.lastPulseout = PinRequest{p, operand};
            e.text = "pulseout" + pin + " period " + std::to_string(operand) + note;
        }
        break;
    }
    case 5:
        switch (cmd) {
        case 0x50:
        case 0x51: {
            const std::string note = useOperand(operand);
            const int value = value8(cmd, d1);
            s.eeprom[operand] = static_cast<uint8_t>(value);
            e.text =
                "eeprom write " + std::to_string(value) + " at " + std::to_string(operand) + note;
            break;
        }
        case 0x52: {
            const std::string note = useOperand(operand);
            e.text = "eeprom read at " + std::to_string(operand) + note;
            e.reply = Bytes(1, static_cast<char>(s.eeprom[operand]));
            break;
        }
        case 0x54:
        case 0x55: {
            const std::string note = useOperand(operand);
            s.pwmChannel = Pwm{value8(cmd, d1), operand};
            e.text = "pwm channel duty " + std::to_string(s.pwmChannel.duty) + " fduration " +
                     std::to_string(operand) + note;
            break;
        }
        case 0x56:
            e.text = "tris get";
            e.reply = Bytes(1, static_cast<char>(s.tris));
            break;
        case 0x57:
            e.text = "pins get";
            e.reply = Bytes(1, static_cast<char>(s.portValue()));
            break;
        case 0x5A:
            e.text = "counter get";
            e.reply = word(s.counter);
            break;
        case 0x5B: {
            const std::string note = useOperand(operand);
            s.repeatOperand = operand;
            e.text = "repeat operand " + std::to_string(operand) + note;
            break;
        }
        case 0x5C: {
            State fresh;
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
            e.text = "reset all";
            break;
        }
        default:
            unknown();
        }
        break;
    case 6: {
        const std::string note = useOperand(operand);
        s.pwmPin[p] = Pwm{value8(cmd, d1), operand};
        e.text = "pwm" + pin + " duty " + std::to_string(s.pwmPin[p].duty) + " fduration " +
                 std::to_string(operand) + note;
        break;
    }
    case 7:
        s.lastPulsein = PinRequest{p, lowbit(cmd)};
        e.text = "pulsein" + pin + " state " + std::to_string(lowbit(cmd));
        e.reply = word(s.pulseinAnswer);
        break;
    }
    m_operandFresh = loadsOperand;
    record(std::move(e), reply);
}

void BoardModel::extended(Event& e) {
    State& s = m_state;
    const uint8_t d1 = byteAt(e.bytes, 1);
    const int pin = (d1 >> 1) & 7;
    if ((d1 & 0xF0) == 0x80) {
        uint16_t duration = 0;
        const std::string note = useOperand(duration);
        const int tone =
            (d1 & 1) + (byteAt(e.bytes, 2) & 127) * 256 + (byteAt(e.bytes, 3) & 127) * 2;
        s.lastTone = Tone{pin, tone, duration};
        e.text = "tone pin " + std::to_string(pin) + " value " + std::to_string(tone) +
                 " duration " + std::to_string(duration) + note;
    } else if ((d1 & 0xF8) == 0x90) {
        s.prescaleCode = (d1 >> 1) & 3;
        s.countMode = (d1 & 1) != 0;
        e.text = "counter setup prescale " + std::to_string(1 << s.prescaleCode) + " mode " +
                 std::to_string(d1 & 1);
    } else if ((d1 & 0xF0) == 0xA0) {
        s.lastRctime = PinRequest{pin, d1 & 1};
        e.text = "rctime pin " + std::to_string(pin) + " state " + std::to_string(d1 & 1);
        e.reply = word(s.rctimeAnswer);
    } else {
        e.text = "unknown extended command";
        e.malformed = true;
    }
}

} // namespace zelto::sim
