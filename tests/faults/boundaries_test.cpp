// Arguments at and just beyond each edge of their encoding, through the dispatch identifiers a
// client uses: the last value that fits goes out whole, the first that does not fails with its
// error and writes nothing more, and the link is free either way.

#include "fault_fixture.h"

#include <climits>
#include <optional>

namespace zelto::faults {
namespace {

namespace d = zelto::dispid;

struct Edge {
    const char* name;
    int32_t dispid;
    K kind;
    std::vector<Variant> args;
    int error;        // 0: it goes through
    const char* sent; // every byte written, also those written before a failure
    std::optional<Variant> result = std::nullopt;
};

void PrintTo(const Edge& e, std::ostream* os) {
    *os << e.name;
}

class Boundaries : public ::testing::TestWithParam<Edge> {};

TEST_P(Boundaries, FitOrFailCleanly) {
    const Edge& e = GetParam();
    SimBoard b;
    b.open();
    b.model->state().analog[0] = 0x0102;
    b.model->state().analog[6] = 0x0607;
    b.model->state().analog[7] = 0x0708;
    Variant result;
    EXPECT_EQ(errorOf([&] { result = invoke(*b.board, e.dispid, e.kind, e.args); }), e.error);
    EXPECT_EQ(b.written(), e.sent);
    if (e.result) {
        EXPECT_EQ(result, *e.result);
    }
    EXPECT_TRUE(b.board->ready()) << "the link was left claimed";
}

const int32_t kMax = INT32_MAX;
const int32_t kMin = INT32_MIN;

INSTANTIATE_TEST_SUITE_P(
    Registers, Boundaries,
    ::testing::Values(Edge{"pins 255", d::pins, K::PropertyLet, {255}, 0, "05 FF"},
                      Edge{"pins -257", d::pins, K::PropertyLet, {-257}, 0, "05 00"},
                      Edge{"pins -258", d::pins, K::PropertyLet, {-258}, 5, ""},
                      Edge{"tris -257", d::tris, K::PropertyLet, {-257}, 0, "03 00"},
                      Edge{"tris 254.5", d::tris, K::PropertyLet, {254.5}, 0, "02 FF"},
                      Edge{"tris 255.5", d::tris, K::PropertyLet, {255.5}, 5, ""},
                      Edge{"led 0.5", d::led, K::PropertyLet, {0.5}, 0, "0D"}),
    nameOf<Edge>);

INSTANTIATE_TEST_SUITE_P(
    EepromAndRepeat, Boundaries,
    ::testing::Values(
        Edge{"write -257", d::eeprom, K::PropertyLet, {0, -257}, 0, "08 80 80 51 00"},
        Edge{"write -258", d::eeprom, K::PropertyLet, {0, -258}, 5, ""},
        Edge{"write at 65535", d::eeprom, K::PropertyLet, {65535, 1}, 0, "0B FF FF 51 80"},
        Edge{"write at -66047", d::eeprom, K::PropertyLet, {-66047, 1}, 0, "0B 00 81 51 80"},
        Edge{"write at -66048", d::eeprom, K::PropertyLet, {-66048, 1}, 5, ""},
        Edge{"read 65535", d::eeprom, K::PropertyGet, {65535}, 0, "0B FF FF 52", Variant(255)},
        Edge{"read -66047", d::eeprom, K::PropertyGet, {-66047}, 0, "0B 00 81 52"},
        Edge{"read -66048", d::eeprom, K::PropertyGet, {-66048}, 5, ""},
        Edge{"repeat -66046", d::repeat, K::Method, {-66046}, 0, "0B 00 81 5B"},
        Edge{"repeat -66047", d::repeat, K::Method, {-66047}, 5, ""},
        Edge{"repeat INT32_MIN + 1", d::repeat, K::Method, {kMin + 1}, 5, ""},
        Edge{"repeat INT32_MAX", d::repeat, K::Method, {kMax}, 5, ""}),
    nameOf<Edge>);

INSTANTIATE_TEST_SUITE_P(
    PulseTiming, Boundaries,
    ::testing::Values(
        Edge{"count 65535", d::count, K::Method, {0, 65535}, 0, "0B FF FF 40", Variant(0)},
        Edge{"count 65536", d::count, K::Method, {0, 65536}, 5, ""},
        Edge{"count -66048", d::count, K::Method, {0, -66048}, 5, ""},
        Edge{"pulseout 65535", d::pulseout, K::Method, {7, 65535}, 0, "0B FF FF 4F"},
        Edge{"pulseout 65536", d::pulseout, K::Method, {7, 65536}, 5, ""},
        // rctime's data byte is checked only after 0x0E has gone out.
        Edge{"rctime pin 0 state 95", d::rctime, K::Method, {0, 95}, 0, "0E FF"},
        Edge{"rctime pin 7 state 81", d::rctime, K::Method, {7, 81}, 0, "0E FF"},
        Edge{"rctime pin 7 state 82", d::rctime, K::Method, {7, 82}, 5, "0E"},
        Edge{"rctime state -160", d::rctime, K::Method, {0, -160}, 0, "0E 00"},
        Edge{"rctime state -161", d::rctime, K::Method, {0, -161}, 5, "0E"},
        Edge{"rctime sum INT32_MAX", d::rctime, K::Method, {0, kMax - 160}, 5, "0E"},
        Edge{"rctime sum beyond INT32_MAX", d::rctime, K::Method, {0, kMax - 159}, 6, "0E"},
        Edge{"setcounter 32767", d::setcounter, K::Method, {32767, false}, 0, "0E 90"},
        Edge{"setcounter 32768", d::setcounter, K::Method, {32768, false}, 6, ""},
        Edge{"setcounter -32769", d::setcounter, K::Method, {-32769, false}, 6, ""}),
    nameOf<Edge>);

INSTANTIATE_TEST_SUITE_P(
    AnalogPwmTone, Boundaries,
    ::testing::Values(
        Edge{"a2dconf 63 with justify", d::a2dconf, K::Method, {true, false, 63}, 0, "31 FF"},
        Edge{"pwm duty -257", d::pwm, K::Method, {0, -257, 0}, 0, "08 80 80 61 00"},
        Edge{"pwm duty -258", d::pwm, K::Method, {0, -258, 0}, 5, ""},
        Edge{"pwm 65535", d::pwm, K::Method, {0, 0, 65535}, 0, "0B FF FF 60 80"},
        Edge{"pwm -66047", d::pwm, K::Method, {0, 0, -66047}, 0, "0B 00 81 60 80"},
        Edge{"pwm -66048", d::pwm, K::Method, {0, 0, -66048}, 5, ""},
        Edge{"pwm channel at most", d::pwm, K::Method, {-1, 255, 65535}, 0, "0B FF FF 55 FF"},
        Edge{"pwm pin INT32_MIN", d::pwm, K::Method, {kMin, 1, 0}, 0, "08 80 80 61 80"},
        Edge{"freq tone -33023", d::freq, K::Method, {0, -33023, 0}, 0, "08 80 80 0E 81 00 81"},
        Edge{"freq tone -33024", d::freq, K::Method, {0, -33024, 0}, 5, ""},
        Edge{"freq duration -66048", d::freq, K::Method, {0, 1, -66048}, 5, ""},
        Edge{"freq pin INT32_MAX", d::freq, K::Method, {kMax, 0, 0}, 0, "08 80 80 0E 8E 80 80"}),
    nameOf<Edge>);

} // namespace
} // namespace zelto::faults
