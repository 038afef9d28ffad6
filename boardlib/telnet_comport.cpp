#include "telnet_comport.h"

namespace zelto::telnet {

Bytes escape(const Bytes& data) {
    Bytes out;
    out.reserve(data.size());
    for (char c : data) {
        out += c;
        if (static_cast<uint8_t>(c) == IAC)
            out += c;
    }
    return out;
}

Bytes negotiation(uint8_t verb, uint8_t option) {
    return {static_cast<char>(IAC), static_cast<char>(verb), static_cast<char>(option)};
}

Bytes comPortCommand(uint8_t code, const Bytes& value) {
    return Bytes{static_cast<char>(IAC), static_cast<char>(SB), static_cast<char>(COM_PORT),
                 static_cast<char>(code)} +
           escape(value) + Bytes{static_cast<char>(IAC), static_cast<char>(SE)};
}

void Decoder::feed(const char* bytes, size_t size, Bytes& data, std::vector<Event>& events) {
    for (size_t i = 0; i < size; ++i) {
        const auto b = static_cast<uint8_t>(bytes[i]);
        switch (m_state) {
        case State::Data:
            if (b == IAC)
                m_state = State::Command;
            else
                data += bytes[i];
            break;
        case State::Command:
            m_state = State::Data;
            if (b == IAC) {
                data += bytes[i];
            } else if (b >= WILL && b <= DONT) {
                m_verb = b;
                m_state = State::Option;
            } else if (b == SB) {
                m_sub.clear();
                m_state = State::Sub;
            }
            break;
        case State::Option:
            events.push_back({m_verb, b, 0, {}});
            m_state = State::Data;
            break;
        case State::Sub:
            if (b == IAC)
                m_state = State::SubCommand;
            else
                m_sub += bytes[i];
            break;
        case State::SubCommand:
            if (b == IAC) {
                m_sub += bytes[i];
                m_state = State::Sub;
                break;
            }
            // SE ends it; anything else is malformed and ends it too, dropped.
            if (b == SE && m_sub.size() >= 2 && static_cast<uint8_t>(m_sub[0]) == COM_PORT)
                events.push_back({SB, COM_PORT, static_cast<uint8_t>(m_sub[1]), m_sub.substr(2)});
            m_state = State::Data;
            break;
        }
    }
}

} // namespace zelto::telnet
