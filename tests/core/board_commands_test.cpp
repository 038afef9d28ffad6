#include "board_fixture.h"

#include <thread>

namespace zelto::test {
namespace {

using V = std::vector<std::string>;
using K = MemberKind;

namespace d = zelto::dispid;

struct Case {
    const char* name;
    int32_t dispid;
    K kind;
    std::vector<Variant> args;
    V writes;         // write by write
    Variant result;   // for members with a result
    int error = 0;    // expected error number; then nothing may be written
    Bytes reply = ""; // when set, the board answers exactly this instead of the model
    bool replyGiven = false;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

Case answered(Case c, Bytes reply) {
    c.reply = std::move(reply);
    c.replyGiven = true;
    return c;
}

class CommandTest : public BoardTest, public ::testing::WithParamInterface<Case> {};

TEST_P(CommandTest, WritesAndAnswers) {
    const Case& c = GetParam();
    open();
    model->state().analog = {1023, 0, 0, 0, 0, 0, 0, 0xFFFF};
    model->state().countAnswer = 300;
    model->state().pulseinAnswer = 0x1234;
    model->state().rctimeAnswer = 777;
    model->state().counter = 65535;
    model->state().eeprom[0] = 200;
    if (c.replyGiven)
        answer(c.reply);
    Variant result;
    EXPECT_EQ(errorOf([&] { result = call(c.dispid, c.kind, c.args); }), c.error);
    EXPECT_EQ(hexWrites(*serial), c.writes);
    if (c.error == 0) {
        EXPECT_EQ(result, c.result);
    }
    EXPECT_TRUE(board->ready()) << "the link is left claimed";
    board->portopen(false);
    EXPECT_TRUE(board->tris().isEmpty()) << "commands leave the cached registers alone";
    EXPECT_EQ(board->pins(), 0);
}

const Variant None;

INSTANTIATE_TEST_SUITE_P(
    PinsAndLed, CommandTest,
    ::testing::Values(
        Case{"high 3", d::high, K::Method, {3}, {"17"}, None},
        Case{"low 3", d::low, K::Method, {3}, {"16"}, None},
        Case{"toggle 3", d::toggle, K::Method, {3}, {"26"}, None},
        Case{"high 8 is pin 0", d::high, K::Method, {8}, {"11"}, None},
        Case{"high -1 is pin 7", d::high, K::Method, {-1}, {"1F"}, None},
        answered(Case{"inp 3 low", d::inp, K::Method, {3}, {"27"}, Variant(0)}, "\x30"),
        answered(Case{"inp 3 answer 0", d::inp, K::Method, {3}, {"27"}, Variant(1)}, Bytes(1, 0)),
        answered(Case{"inp 3 answer 31", d::inp, K::Method, {3}, {"27"}, Variant(1)}, "\x31"),
        answered(Case{"inp failed read", d::inp, K::Method, {0}, {"21"}, Variant(1)}, ""),
        Case{"led True", d::led, K::PropertyLet, {true}, {"0D"}, None},
        Case{"led 1", d::led, K::PropertyLet, {1}, {"0D"}, None},
        Case{"led False", d::led, K::PropertyLet, {false}, {"0C"}, None},
        Case{"led 0", d::led, K::PropertyLet, {0}, {"0C"}, None},
        Case{"led Empty", d::led, K::PropertyLet, {Variant()}, {"0C"}, None},
        Case{"led Null", d::led, K::PropertyLet, {Variant::null()}, {"0C"}, None},
        Case{"led text", d::led, K::PropertyLet, {"bright"}, {}, None, 13},
        Case{"led read", d::led, K::PropertyGet, {}, {}, None, 393}),
    nameOf<Case>);

INSTANTIATE_TEST_SUITE_P(
    EepromAndRepeat, CommandTest,
    ::testing::Values(
        Case{"read 0", d::eeprom, K::PropertyGet, {0}, {"08 80 80", "52"}, Variant(200)},
        Case{"read 300", d::eeprom, K::PropertyGet, {300}, {"09 80 96", "52"}, Variant(255)},
        Case{"read 65536", d::eeprom, K::PropertyGet, {65536}, {}, None, 5},
        answered(Case{"read fails", d::eeprom, K::PropertyGet, {0}, {"08 80 80", "52"}, Variant(0)},
                 ""),
        Case{"write 90 at 300", d::eeprom, K::PropertyLet, {300, 90}, {"09 80 96", "50 AD"}, None},
        Case{"write 255 at 1", d::eeprom, K::PropertyLet, {1, 255}, {"0A 80 80", "51 FF"}, None},
        Case{"write 256", d::eeprom, K::PropertyLet, {0, 256}, {}, None, 5},
        Case{"write at 65536", d::eeprom, K::PropertyLet, {65536, 1}, {}, None, 5},
        Case{"repeat 1", d::repeat, K::Method, {1}, {"08 80 80", "5B"}, None},
        Case{"repeat 10", d::repeat, K::Method, {10}, {"0A 80 84", "5B"}, None},
        Case{"repeat 65536", d::repeat, K::Method, {65536}, {"0B FF FF", "5B"}, None},
        Case{"repeat 0 sends -1", d::repeat, K::Method, {0}, {"0A 80 80", "5B"}, None},
        Case{"repeat 65537", d::repeat, K::Method, {65537}, {}, None, 5},
        Case{"repeat most negative", d::repeat, K::Method, {INT32_MIN}, {}, None, 6}),
    nameOf<Case>);

INSTANTIATE_TEST_SUITE_P(
    PulseTimingCounter, CommandTest,
    ::testing::Values(
        Case{"count 2 1000", d::count, K::Method, {2, 1000}, {"09 81 F4", "44"}, Variant(300)},
        Case{"count 70000", d::count, K::Method, {2, 70000}, {}, None, 5},
        answered(Case{"count second byte lost",
                      d::count,
                      K::Method,
                      {0, 1},
                      {"0A 80 80", "40"},
                      Variant(256)},
                 "\x01"),
        Case{"pulseout 5 300", d::pulseout, K::Method, {5, 300}, {"09 80 96", "4B"}, None},
        Case{"pulsein 1 1", d::pulsein, K::Method, {1, 1}, {"73"}, Variant(0x1234)},
        Case{"pulsein 1 2", d::pulsein, K::Method, {1, 2}, {"72"}, Variant(0x1234)},
        Case{"rctime 3 1", d::rctime, K::Method, {3, 1}, {"0E", "A7"}, Variant(777)},
        Case{"rctime state unmasked", d::rctime, K::Method, {0, 16}, {"0E", "B0"}, Variant(0)},
        Case{"rctime state too big", d::rctime, K::Method, {0, 96}, {"0E"}, None, 5},
        Case{"counter read", d::counter, K::PropertyGet, {}, {"5A"}, Variant(65535)},
        Case{"counter set", d::counter, K::PropertyLet, {5}, {}, None, 387},
        Case{"setcounter 8 True", d::setcounter, K::Method, {8, true}, {"0E 97"}, None},
        Case{"setcounter 2 False", d::setcounter, K::Method, {2, false}, {"0E 92"}, None},
        Case{"setcounter 4 True", d::setcounter, K::Method, {4, true}, {"0E 95"}, None},
        Case{"setcounter 3 True", d::setcounter, K::Method, {3, true}, {"0E 91"}, None},
        Case{"setcounter 65538", d::setcounter, K::Method, {65538, false}, {}, None, 6}),
    nameOf<Case>);

INSTANTIATE_TEST_SUITE_P(
    AnalogPwmTone, CommandTest,
    ::testing::Values(
        Case{"a2d 7", d::a2d, K::Method, {7}, {"3E"}, Variant(65535)},
        Case{"a2d 8", d::a2d, K::Method, {8}, {"30"}, Variant(1023)},
        Case{"a2dconf T F 0", d::a2dconf, K::Method, {true, false, 0}, {"31 C0"}, None},
        Case{"a2dconf F T 5", d::a2dconf, K::Method, {false, true, 5}, {"31 A5"}, None},
        Case{"a2dconf T T 3", d::a2dconf, K::Method, {true, true, 3}, {"31 E3"}, None},
        Case{"a2dconf F F 127", d::a2dconf, K::Method, {false, false, 127}, {"31 FF"}, None},
        Case{"a2dconf 128", d::a2dconf, K::Method, {false, false, 128}, {}, None, 6},
        Case{"a2dconf -1", d::a2dconf, K::Method, {false, false, -1}, {}, None, 6},
        Case{"a2dconf 16384", d::a2dconf, K::Method, {false, false, 16384}, {}, None, 6},
        Case{"pwm channel 0", d::pwm, K::Method, {-1, 0, 5000}, {"09 89 C4", "54 80"}, None},
        Case{"pwm channel 255", d::pwm, K::Method, {-1, 255, 5000}, {"09 89 C4", "55 FF"}, None},
        Case{"pwm 3 200", d::pwm, K::Method, {3, 200, 1000}, {"09 81 F4", "66 E4"}, None},
        Case{"pwm -2 is pin 6", d::pwm, K::Method, {-2, 1, 0}, {"08 80 80", "6D 80"}, None},
        Case{"pwm duty 256", d::pwm, K::Method, {0, 256, 1000}, {}, None, 5},
        Case{"pwm duration 65536", d::pwm, K::Method, {0, 1, 65536}, {}, None, 5},
        Case{"freq 1 1000 250",
             d::freq,
             K::Method,
             {1, 1000, 250},
             {"08 80 FD", "0E 82 83 F4"},
             None},
        Case{"freq 0 32767 65535",
             d::freq,
             K::Method,
             {0, 32767, 65535},
             {"0B FF FF", "0E 81 FF FF"},
             None},
        Case{"freq tone 32768", d::freq, K::Method, {0, 32768, 100}, {}, None, 5},
        Case{"freq duration 65536", d::freq, K::Method, {0, 1, 65536}, {}, None, 5}),
    nameOf<Case>);

TEST_F(BoardTest, ClosedPortFailsEveryCommandWith68) {
    const std::vector<std::pair<int32_t, std::vector<Variant>>> methods = {
        {d::high, {0}},
        {d::low, {0}},
        {d::toggle, {0}},
        {d::inp, {0}},
        {d::count, {0, 1}},
        {d::pulseout, {0, 1}},
        {d::pulsein, {0, 1}},
        {d::rctime, {0, 1}},
        {d::setcounter, {2, true}},
        {d::repeat, {1}},
        {d::a2d, {0}},
        {d::pwm, {0, 1, 1}},
        {d::freq, {0, 1, 1}},
        {d::a2dconf, {true, true, 1}},
    };
    for (const auto& [dispid, args] : methods)
        EXPECT_EQ(errorOf([&] { call(dispid, K::Method, args); }), 68) << std::hex << dispid;
    EXPECT_EQ(errorOf([&] { call(d::led, K::PropertyLet, {true}); }), 68);
    EXPECT_EQ(errorOf([&] { call(d::counter, K::PropertyGet); }), 68);
    EXPECT_EQ(errorOf([&] { call(d::eeprom, K::PropertyLet, {0, 1}); }), 68);
    EXPECT_TRUE(serial->writes().empty());

    // Reading the EEPROM hands its address to the component before the port check.
    EXPECT_EQ(errorOf([&] { call(d::eeprom, K::PropertyGet, {0}); }), err::PortNotOpen);
}

TEST_F(BoardTest, MeasurementsMayTakeLongerThanOrdinaryReplies) {
    make(nullptr, Limits{Millis{300}, Millis{20}, Millis{2000}});
    open();
    serial->setSilent(true);
    std::thread late([this] {
        std::this_thread::sleep_for(Millis{150});
        serial->queueReply("\x01\x2C");
    });
    EXPECT_EQ(board->count(0, 1000), 300);
    late.join();
    EXPECT_FALSE(board->errflag());
}

} // namespace
} // namespace zelto::test
