#include "board_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

using zelto::Bytes;
using zelto::sim::BoardModel;
using zelto::sim::hex;
using State = BoardModel::State;

namespace {

// Each row is written from the command map by hand; the model's words for what it understood
// carry the decoded fields, one entry per command.
const struct {
    Bytes in;
    std::vector<std::string> words;
} DecodeCases[] = {
    {"\x08\x89\x9A", {"load operand 4660"}},
    {"\x09\x80\x80", {"load operand 256"}},
    {"\x0B\x80\xFF", {"load operand 511"}},
    {"\x09\x81\xF4\x44", {"load operand 1000", "count pin 2 for 1000"}},
    {"\x09\x80\x96\x4B", {"load operand 300", "pulseout pin 5 period 300"}},
    {"\x73", {"pulsein pin 1 state 1"}},
    {"\x0E\xA7", {"rctime pin 3 state 1"}},
    {"\x08\x80\xFD\x0E\x82\x83\xF4", {"load operand 250", "tone pin 1 value 1000 duration 250"}},
    {"\x0B\xFF\xFF\x0E\x81\xFF\xFF",
     {"load operand 65535", "tone pin 0 value 32767 duration 65535"}},
    {"\x08\x80\x80\x0E\x8F\x81\x80", {"load operand 0", "tone pin 7 value 257 duration 0"}},
    {"\x0E\x97", {"counter setup prescale 8 mode 1"}},
    {"\x09\x80\x96\x50\xAD", {"load operand 300", "eeprom write 90 at 300"}},
    {"\x0A\x80\x80\x51\xFF", {"load operand 1", "eeprom write 255 at 1"}},
    {"\x0B\xFF\xFF\x50\x80", {"load operand 65535", "eeprom write 0 at 65535"}},
    {"\x09\x89\xC4\x55\xFF", {"load operand 5000", "pwm channel duty 255 fduration 5000"}},
    {"\x09\x81\xF4\x66\xE4", {"load operand 1000", "pwm pin 3 duty 200 fduration 1000"}},
    {"\x0A\x80\x84\x5B", {"load operand 9", "repeat operand 9"}},
    {"\x05\xD2", {"pins set 165"}},
    {"\x03\x87", {"tris set 15"}},
    {"\x0D", {"led on"}},
    {"\x17", {"high pin 3"}},
    {"\x31\xC0", {"a2d config 128"}},
    {"\x31\xA5", {"a2d config 74"}},
    {"\x31\xFF", {"a2d config 254"}},
};

TEST(BoardModelDecode, CommandMap) {
    for (const auto& c : DecodeCases) {
        SCOPED_TRACE(hex(c.in));
        BoardModel model;
        model.feed(c.in);
        std::vector<std::string> words;
        for (const auto& e : model.events())
            words.push_back(e.text);
        EXPECT_EQ(words, c.words);
        EXPECT_EQ(model.malformedCount(), 0);
        EXPECT_FALSE(model.midCommand());
    }
}

TEST(BoardModelDecode, ByteByByteEqualsWhole) {
    const Bytes stream = "\x08\x80\xFD\x0E\x82\x83\xF4\x09\x80\x96\x50\xAD\x05\xD2\x0E\x97";
    BoardModel whole;
    whole.feed(stream);
    BoardModel split;
    for (char c : stream)
        split.feed(static_cast<uint8_t>(c));
    EXPECT_EQ(split.log(), whole.log());
    EXPECT_EQ(split.state().lastTone, (BoardModel::Tone{1, 1000, 250}));
    EXPECT_EQ(split.state().eeprom[300], 90);
    EXPECT_EQ(split.state().latch, 165);
}

struct ReplyCase {
    const char* what;
    std::function<void(State&)> setup;
    Bytes in;
    Bytes reply;
};

// The replies of the standard board to each member's bytes are the wire table's, run against the
// simulator program in the end-to-end cases (Wire); these are replies that table cannot show.
const ReplyCase ReplyCases[] = {
    {"sync answers nothing", nullptr, Bytes("\x00", 1), ""},
    // Pins 0..3 are inputs (outside levels 0x03), 4..7 outputs (latch 0xA5).
    {"pins get mixes latch and inputs", [](State& s) { s.inputs = 0x03; }, "\x03\x87\x05\xD2\x57",
     "\xA3"},
    {"inp of a low input", nullptr, "\x21", "\x30"},
    {"inp of a high input", [](State& s) { s.inputs = 0x80; }, "\x2F", "\x31"},
    {"inp of an output driven high", nullptr, "\x02\x80\x15\x25", "\x31"},
    {"inp of an output driven low", [](State& s) { s.inputs = 0xFF; }, "\x02\x80\x25", "\x30"},
    {"high 7, high 0, low 7 drive the latch", nullptr, "\x02\x80\x1F\x11\x1E\x57", "\x01"},
    {"toggle pin 3 twice, pin 2 once", nullptr, "\x02\x80\x26\x26\x24\x57", "\x04"},
    {"eeprom write then read", nullptr, "\x09\x80\x96\x50\xAD\x09\x80\x96\x52", "\x5A"},
    {"counter get", [](State& s) { s.counter = 0xABCD; }, "\x5A", "\xAB\xCD"},
};

TEST(BoardModelReply, Answers) {
    for (const ReplyCase& c : ReplyCases) {
        SCOPED_TRACE(c.what);
        BoardModel model;
        if (c.setup)
            c.setup(model.state());
        EXPECT_EQ(hex(model.feed(c.in)), hex(c.reply));
        EXPECT_EQ(model.malformedCount(), 0);
    }
}

struct MalformedCase {
    const char* what;
    Bytes in;
    Bytes reply; // what the board still answers
    int malformed;
    std::function<void(const State&)> check;
};

const MalformedCase MalformedCases[] = {
    {"stray data byte, then ok", "\x85\x01", "\x33", 1, nullptr},
    {"pins set cut short by ok", "\x05\x01", "\x33", 1,
     [](const State& s) { EXPECT_EQ(s.latch, 0); }},
    {"operand load cut short; count uses the old operand", "\x09\x81\xF4\x09\x81\x44",
     Bytes("\x00\x00", 2), 1,
     [](const State& s) {
         EXPECT_EQ(s.lastCount, (BoardModel::PinRequest{2, 1000}));
     }},
    {"tone cut short by a2d", "\x0E\x82\x83\x30", Bytes("\x00\x00", 2), 1,
     [](const State& s) { EXPECT_FALSE(s.lastTone); }},
    {"extended command 98", "\x0E\x98", "", 1,
     [](const State& s) { EXPECT_EQ(s.prescaleCode, 0); }},
    {"extended command B0 (rctime state 2)", "\x0E\xB0", "", 1,
     [](const State& s) { EXPECT_FALSE(s.lastRctime); }},
    {"extended command cut short by sync", Bytes("\x0E\x00", 2), "", 1, nullptr},
    {"unknown commands", "\x06\x07\x0F\x33\x3F\x53\x58\x59\x5D\x5E\x5F", "", 11, nullptr},
    {"a data byte after a complete command", "\x52\x80\x01", "\xFF\x33", 1, nullptr},
};

TEST(BoardModelMalformed, LoggedAndSurvived) {
    for (const MalformedCase& c : MalformedCases) {
        SCOPED_TRACE(c.what);
        BoardModel model;
        EXPECT_EQ(hex(model.feed(c.in)), hex(c.reply));
        EXPECT_EQ(model.malformedCount(), c.malformed);
        if (c.check)
            c.check(model.state());
        EXPECT_EQ(std::ranges::count_if(model.events(), &BoardModel::Event::malformed),
                  c.malformed);
        EXPECT_EQ(hex(model.feed("\x01")), "33"); // still in step
    }
}

TEST(BoardModelLog, LinesCarryBytesWordsAndReply) {
    BoardModel model;
    model.state().analog[0] = 1023;
    model.feed("\x30\x09\x81\xF4\x44\x44\x85");
    EXPECT_EQ(model.log(), (std::vector<std::string>{
                               "30          a2d pin 0 -> 03 FF",
                               "09 81 F4    load operand 1000",
                               "44          count pin 2 for 1000 -> 00 00",
                               "44          count pin 2 for 1000 (no operand loaded) -> 00 00",
                               "85          stray data byte",
                           }));
}

TEST(BoardModelReset, KeepsEepromAndOutsideWorld) {
    BoardModel model;
    State& s = model.state();
    s.analog[2] = 700;
    s.inputs = 0x0F;
    s.counter = 99;
    model.feed("\x02\x80\x05\xD2\x0D\x09\x89\xC4\x55\xFF\x0E\x97\x09\x80\x96\x50\xAD\x31\xC0");
    model.feed("\x5C");
    EXPECT_EQ(s.tris, 0xFF);
    EXPECT_EQ(s.latch, 0);
    EXPECT_FALSE(s.led);
    EXPECT_EQ(s.pwmChannel, (BoardModel::Pwm{}));
    EXPECT_EQ(s.prescaleCode, 0);
    EXPECT_FALSE(s.countMode);
    EXPECT_EQ(s.counter, 0);
    EXPECT_EQ(s.a2dConfig, 0);
    EXPECT_EQ(s.eeprom[300], 90);
    EXPECT_EQ(s.analog[2], 700);
    EXPECT_EQ(s.inputs, 0x0F);
    EXPECT_EQ(s.resets, 1);
}

} // namespace
