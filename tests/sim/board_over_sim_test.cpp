// The board object driven against the model: what it means to send must be what the board
// understands.

#include "sim_serial.h"
#include "zeltodll.h"

#include <gtest/gtest.h>

#include <memory>

using zelto::Bytes;
using zelto::sim::BoardModel;
using zelto::sim::SimSerial;

namespace {

struct Rig {
    std::shared_ptr<BoardModel> model = std::make_shared<BoardModel>();
    SimSerial* port = nullptr;
    std::unique_ptr<zelto::ZeltoDLL> board;

    Rig() {
        auto sim = std::make_unique<SimSerial>(model);
        port = sim.get();
        board = std::make_unique<zelto::ZeltoDLL>(std::move(sim));
    }
};

TEST(BoardOverSim, CreationSetsUpTheLineAndOpeningSynchronises) {
    Rig rig;
    EXPECT_EQ(rig.port->config(),
              (std::vector<std::string>{"DTREnable=1", "Handshaking=2", "InputLen=1", "RTSEnable=1",
                                        "Settings=57600,N,8,1", "SThreshold=1"}));
    EXPECT_TRUE(rig.port->writes().empty());
    rig.model->state().tris = 0xFF;
    rig.port->queueReply("\x01\x02\x03"); // stray bytes before the answer
    rig.board->portopen(true);
    EXPECT_EQ(rig.port->writes(),
              (std::vector<Bytes>{Bytes(1, '\0'), "\x01", "\x04\x80", "\x02\x80"}));
    EXPECT_EQ(rig.model->state().tris, 0);
    EXPECT_EQ(rig.port->pending(), "");
}

// Values across the bit boundaries of each encoding arrive whole, each operand loaded right before
// its command.
TEST(BoardOverSim, ValuesArriveWhole) {
    Rig rig;
    rig.board->portopen(true);
    const BoardModel::State& s = rig.model->state();
    for (int v : {0, 1, 2, 255, 256, 257, 511, 512, 0x1234, 32767, 65535}) {
        SCOPED_TRACE(v);
        rig.model->state().countAnswer = static_cast<uint16_t>(65535 - v);
        EXPECT_EQ(rig.board->count(v & 7, v), 65535 - v);
        EXPECT_EQ(s.lastCount, (BoardModel::PinRequest{v & 7, v}));
        rig.board->eeprom(v, v & 255);
        EXPECT_EQ(rig.board->eeprom(v), v & 255);
        rig.board->repeat(v + 1);
        EXPECT_EQ(s.repeatOperand, v);
        rig.board->pwm(v & 7, v & 255, v);
        EXPECT_EQ(s.pwmPin[v & 7], (BoardModel::Pwm{v & 255, v}));
        rig.board->pwm(-1, v & 255, 65535 - v);
        EXPECT_EQ(s.pwmChannel, (BoardModel::Pwm{v & 255, 65535 - v}));
        rig.board->freq(v & 7, v & 32767, v);
        EXPECT_EQ(s.lastTone, (BoardModel::Tone{v & 7, v & 32767, v}));
    }
    EXPECT_EQ(rig.model->malformedCount(), 0);
    for (const auto& e : rig.model->events())
        EXPECT_EQ(e.text.find("no operand"), std::string::npos) << e.line();
}

} // namespace
