#pragma once

// The members' bytes on the wire, once for every transport: the in-process simulated component,
// the termios component over a pseudo-terminal to the simulator program, and the registered COM
// object by dispatch identifier under Wine. Each row is one call on a freshly opened board.

#include "member_table.h"
#include "variant.h"

#include <gtest/gtest.h>

#include <climits>
#include <ostream>
#include <string>
#include <vector>

namespace zelto {

inline void PrintTo(const Variant& a, std::ostream* os) {
    if (a.type() == Variant::Type::String)
        *os << '"' << a.text() << '"';
    else if (a.type() == Variant::Type::Double)
        *os << a.real();
    else if (a.isEmpty() || a.isNull())
        *os << (a.isNull() ? "Null" : "Empty");
    else if (a.type() == Variant::Type::Foreign)
        *os << "(another type)";
    else if (a.type() == Variant::Type::Boolean)
        *os << (a.integral() ? "True" : "False");
    else
        *os << a.integral() << (a.type() == Variant::Type::Integer ? "%" : "");
}

} // namespace zelto

namespace zelto::test {

struct WireRow {
    int32_t dispid;
    MemberKind kind;
    std::vector<Variant> args;
    std::vector<std::string> writes; // hex, write by write
    std::string reply;               // hex, what the board answers
    Variant result;                  // Empty for members without one
    int32_t error = 0;
    // The simulated board in its standard state (below) gives this reply. Rows without are replies
    // that only a transport which injects the board's bytes can produce: lost or unusual bytes.
    bool modelled = true;
};

// The standard state, in the simulator's control commands. A freshly opened board also has
// every pin an output and the latch at 0, and its memory reads 0xFF.
inline const std::vector<std::string>& standardBoard() {
    static const std::vector<std::string> lines = {
        "analog 0 1023", "analog 7 65535", "count 300",
        "pulsein 4660",  "rctime 777",     "counter 65535",
    };
    return lines;
}

inline void PrintTo(const WireRow& r, std::ostream* os) {
    const Member* m = findMember(r.dispid, r.kind);
    *os << (m ? m->name : "?") << (r.kind == MemberKind::PropertyLet ? " let" : "") << "(";
    for (size_t i = 0; i < r.args.size(); ++i) {
        *os << (i ? ", " : "");
        PrintTo(r.args[i], os);
    }
    *os << ")";
}

// A test name: the member and the row's place in the table.
inline std::string rowName(const ::testing::TestParamInfo<WireRow>& info) {
    const Member* m = findMember(info.param.dispid, info.param.kind);
    return std::string(m ? m->name : "unknown") +
           (info.param.kind == MemberKind::PropertyLet ? "_let_" : "_") +
           std::to_string(info.index);
}

// Rows that read something come before rows that change what a later row would read back, so
// that the table can also run in order on one board.
inline const std::vector<WireRow>& wireTable() {
    namespace d = dispid;
    constexpr auto M = MemberKind::Method, G = MemberKind::PropertyGet, L = MemberKind::PropertyLet;
    const Variant none;
    const int32_t max = INT32_MAX, min = INT32_MIN;
    static const std::vector<WireRow> rows = {
        // The link and the registers
        {d::ok, M, {}, {"01"}, "33", true},
        {d::ok, M, {}, {"01"}, "00", false, 0, false},
        {d::ok, M, {}, {"01"}, "34", false, 0, false},
        {d::ok, M, {}, {"01"}, "", false, 0, false},
        {d::readbyte, M, {}, {}, "", 0},
        {d::readbyte, M, {}, {}, "C8", 200, 0, false},
        {d::readword, M, {}, {}, "12 34", 4660, 0, false},
        {d::readword, M, {}, {}, "FF FF", 65535, 0, false},
        {d::readword, M, {}, {}, "12", 4608, 0, false},
        {d::ready, G, {}, {}, "", true},
        {d::ready, L, {true}, {}, "", none, 387},
        {d::ready, L, {false}, {}, "", none, 387},
        {d::errflag, G, {}, {}, "", false},
        {d::portopen, G, {}, {}, "", true},
        {d::tris, G, {}, {"56"}, "00", int16_t{0}},
        {d::pins, G, {}, {"57"}, "00", 0},
        {d::pins, G, {}, {"57"}, "3C", 60, 0, false},
        {d::tris, L, {255}, {"03 FF"}, "", none},
        {d::tris, L, {-257}, {"03 00"}, "", none},
        {d::tris, L, {254.5}, {"02 FF"}, "", none},
        {d::tris, L, {255.5}, {}, "", none, 5},
        {d::tris, L, {-2}, {"02 7F"}, "", none, 0, false}, // the board takes 7F for a command
        {d::tris, L, {2.5}, {"02 81"}, "", none},
        {d::tris, L, {256}, {}, "", none, 5},
        {d::tris, L, {"7"}, {"03 83"}, "", none},
        {d::tris, L, {"abc"}, {}, "", none, 13},
        {d::tris, L, {Variant::null()}, {}, "", none, 94},
        {d::tris, L, {-258}, {}, "", none, 5},
        {d::pins, L, {0}, {"04 80"}, "", none},
        {d::pins, L, {255}, {"05 FF"}, "", none},
        {d::pins, L, {-257}, {"05 00"}, "", none},
        {d::pins, L, {256}, {}, "", none, 5},
        {d::pins, L, {-258}, {}, "", none, 5},
        // Pins and the LED
        {d::high, M, {3}, {"17"}, "", none},
        {d::low, M, {3}, {"16"}, "", none},
        {d::toggle, M, {3}, {"26"}, "", none},
        {d::high, M, {8}, {"11"}, "", none},
        {d::high, M, {-1}, {"1F"}, "", none},
        {d::inp, M, {3}, {"27"}, "30", 0},
        {d::inp, M, {3}, {"27"}, "00", 1, 0, false},
        {d::inp, M, {3}, {"27"}, "31", 1, 0, false},
        {d::inp, M, {0}, {"21"}, "", 1, 0, false},
        {d::led, L, {true}, {"0D"}, "", none},
        {d::led, L, {1}, {"0D"}, "", none},
        {d::led, L, {0.5}, {"0D"}, "", none},
        {d::led, L, {false}, {"0C"}, "", none},
        {d::led, L, {0}, {"0C"}, "", none},
        {d::led, L, {none}, {"0C"}, "", none},
        {d::led, L, {Variant::null()}, {"0C"}, "", none},
        {d::led, L, {"bright"}, {}, "", none, 13},
        {d::led, G, {}, {}, "", none, 393},
        // Memory and repeat
        {d::eeprom, G, {300}, {"09 80 96", "52"}, "FF", 255},
        {d::eeprom, G, {511}, {"0B 80 FF", "52"}, "FF", 255},
        {d::eeprom, G, {65535}, {"0B FF FF", "52"}, "FF", 255},
        {d::eeprom, G, {-66047}, {"0B 00 81", "52"}, "FF", 255},
        {d::eeprom, G, {0}, {"08 80 80", "52"}, "C8", 200, 0, false},
        {d::eeprom, G, {0}, {"08 80 80", "52"}, "", 0, 0, false},
        {d::eeprom, G, {65536}, {}, "", none, 5},
        {d::eeprom, G, {-66048}, {}, "", none, 5},
        {d::eeprom, L, {300, 90}, {"09 80 96", "50 AD"}, "", none},
        {d::eeprom, L, {1, 255}, {"0A 80 80", "51 FF"}, "", none},
        {d::eeprom, L, {0, 0}, {"08 80 80", "50 80"}, "", none},
        {d::eeprom, L, {0, -257}, {"08 80 80", "51 00"}, "", none},
        {d::eeprom, L, {65535, 1}, {"0B FF FF", "51 80"}, "", none},
        {d::eeprom, L, {-66047, 1}, {"0B 00 81", "51 80"}, "", none},
        {d::eeprom, L, {0, 256}, {}, "", none, 5},
        {d::eeprom, L, {0, -258}, {}, "", none, 5},
        {d::eeprom, L, {65536, 1}, {}, "", none, 5},
        {d::eeprom, L, {-66048, 1}, {}, "", none, 5},
        {d::repeat, M, {1}, {"08 80 80", "5B"}, "", none},
        {d::repeat, M, {10}, {"0A 80 84", "5B"}, "", none},
        {d::repeat, M, {65536}, {"0B FF FF", "5B"}, "", none},
        {d::repeat, M, {0}, {"0A 80 80", "5B"}, "", none},
        {d::repeat, M, {-66046}, {"0B 00 81", "5B"}, "", none},
        {d::repeat, M, {65537}, {}, "", none, 5},
        {d::repeat, M, {-66047}, {}, "", none, 5},
        {d::repeat, M, {max}, {}, "", none, 5},
        {d::repeat, M, {min + 1}, {}, "", none, 5},
        {d::repeat, M, {min}, {}, "", none, 6},
        // Pulses, timing and the counter
        {d::count, M, {2, 1000}, {"09 81 F4", "44"}, "01 2C", 300},
        {d::count, M, {0, 65535}, {"0B FF FF", "40"}, "01 2C", 300},
        {d::count, M, {0, 1}, {"0A 80 80", "40"}, "01", 256, 0, false},
        {d::count, M, {2, 65536}, {}, "", none, 5},
        {d::count, M, {0, -66048}, {}, "", none, 5},
        {d::pulseout, M, {5, 300}, {"09 80 96", "4B"}, "", none},
        {d::pulseout, M, {7, 65535}, {"0B FF FF", "4F"}, "", none},
        {d::pulseout, M, {7, 65536}, {}, "", none, 5},
        {d::pulsein, M, {1, 1}, {"73"}, "12 34", 4660},
        {d::pulsein, M, {1, 2}, {"72"}, "12 34", 4660},
        {d::pulsein, M, {1, 0}, {"72"}, "12 34", 4660},
        {d::pulsein, M, {9, 1}, {"73"}, "12 34", 4660},
        {d::rctime, M, {3, 1}, {"0E", "A7"}, "03 09", 777},
        {d::rctime, M, {0, 0}, {"0E", "A0"}, "03 09", 777},
        {d::rctime, M, {0, 16}, {"0E", "B0"}, "", 0, 0, false},
        {d::rctime, M, {0, 95}, {"0E", "FF"}, "", 0, 0, false},
        {d::rctime, M, {7, 81}, {"0E", "FF"}, "", 0, 0, false},
        {d::rctime, M, {0, -160}, {"0E", "00"}, "", 0, 0, false},
        // The data byte is checked only after 0x0E has gone out.
        {d::rctime, M, {0, 96}, {"0E"}, "", none, 5, false},
        {d::rctime, M, {7, 82}, {"0E"}, "", none, 5, false},
        {d::rctime, M, {0, -161}, {"0E"}, "", none, 5, false},
        {d::rctime, M, {0, max - 160}, {"0E"}, "", none, 5, false},
        {d::rctime, M, {0, max - 159}, {"0E"}, "", none, 6, false},
        {d::counter, G, {}, {"5A"}, "FF FF", 65535},
        {d::counter, L, {5}, {}, "", none, 387},
        {d::setcounter, M, {8, true}, {"0E 97"}, "", none},
        {d::setcounter, M, {2, false}, {"0E 92"}, "", none},
        {d::setcounter, M, {1, true}, {"0E 91"}, "", none},
        {d::setcounter, M, {3, true}, {"0E 91"}, "", none},
        {d::setcounter, M, {4, true}, {"0E 95"}, "", none},
        {d::setcounter, M, {16, false}, {"0E 90"}, "", none},
        {d::setcounter, M, {32767, false}, {"0E 90"}, "", none},
        {d::setcounter, M, {32768, false}, {}, "", none, 6},
        {d::setcounter, M, {-32769, false}, {}, "", none, 6},
        // Analog input, PWM and tone
        {d::a2d, M, {0}, {"30"}, "03 FF", 1023},
        {d::a2d, M, {8}, {"30"}, "03 FF", 1023},
        {d::a2d, M, {7}, {"3E"}, "FF FF", 65535},
        {d::a2d, M, {-1}, {"3E"}, "FF FF", 65535},
        {d::a2dconf, M, {true, false, 0}, {"31 C0"}, "", none},
        {d::a2dconf, M, {false, true, 5}, {"31 A5"}, "", none},
        {d::a2dconf, M, {true, true, 3}, {"31 E3"}, "", none},
        {d::a2dconf, M, {false, false, 127}, {"31 FF"}, "", none},
        {d::a2dconf, M, {true, false, 63}, {"31 FF"}, "", none},
        {d::a2dconf, M, {false, false, 128}, {}, "", none, 6},
        {d::a2dconf, M, {false, false, -1}, {}, "", none, 6},
        {d::a2dconf, M, {false, false, 16384}, {}, "", none, 6},
        {d::pwm, M, {-1, 0, 5000}, {"09 89 C4", "54 80"}, "", none},
        {d::pwm, M, {-1, 255, 5000}, {"09 89 C4", "55 FF"}, "", none},
        {d::pwm, M, {3, 200, 1000}, {"09 81 F4", "66 E4"}, "", none},
        {d::pwm, M, {-2, 1, 0}, {"08 80 80", "6D 80"}, "", none},
        {d::pwm, M, {0, -257, 0}, {"08 80 80", "61 00"}, "", none},
        {d::pwm, M, {0, 0, 65535}, {"0B FF FF", "60 80"}, "", none},
        {d::pwm, M, {0, 0, -66047}, {"0B 00 81", "60 80"}, "", none},
        {d::pwm, M, {-1, 255, 65535}, {"0B FF FF", "55 FF"}, "", none},
        {d::pwm, M, {min, 1, 0}, {"08 80 80", "61 80"}, "", none},
        {d::pwm, M, {0, 256, 1000}, {}, "", none, 5},
        {d::pwm, M, {0, -258, 0}, {}, "", none, 5},
        {d::pwm, M, {0, 1, 65536}, {}, "", none, 5},
        {d::pwm, M, {0, 0, -66048}, {}, "", none, 5},
        {d::freq, M, {1, 1000, 250}, {"08 80 FD", "0E 82 83 F4"}, "", none},
        {d::freq, M, {0, 32767, 65535}, {"0B FF FF", "0E 81 FF FF"}, "", none},
        {d::freq, M, {0, -33023, 0}, {"08 80 80", "0E 81 00 81"}, "", none},
        {d::freq, M, {max, 0, 0}, {"08 80 80", "0E 8E 80 80"}, "", none},
        {d::freq, M, {0, 32768, 100}, {}, "", none, 5},
        {d::freq, M, {0, -33024, 0}, {}, "", none, 5},
        {d::freq, M, {0, 1, 65536}, {}, "", none, 5},
        {d::freq, M, {0, 1, -66048}, {}, "", none, 5},
        // Last: it clears the board's counter and registers.
        {d::resetall, M, {}, {"5C"}, "", none},
    };
    return rows;
}

// The rows that the simulated board answers by itself.
inline const std::vector<WireRow>& modelledRows() {
    static const std::vector<WireRow> rows = [] {
        std::vector<WireRow> out;
        for (const WireRow& r : wireTable())
            if (r.modelled)
                out.push_back(r);
        return out;
    }();
    return rows;
}

// Hex fields joined into one stream: {"09 80 96", "52"} is "09 80 96 52".
inline std::string joined(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& p : parts)
        out += (out.empty() || p.empty() ? "" : " ") + p;
    return out;
}

} // namespace zelto::test
