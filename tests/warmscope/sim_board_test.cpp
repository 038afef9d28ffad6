// The handlers against the library's board object on a simulated board, called through the member
// table by dispatch identifier: what the board receives is decoded by the board model.

#include "fakes.h"
#include "native_board.h"
#include "sim_serial.h"

#include <gtest/gtest.h>

namespace warmscope::test {
namespace {

using zelto::sim::BoardModel;

class SimBoardTest : public ::testing::Test {
  protected:
    SimBoardTest() {
        auto serial = std::make_unique<zelto::sim::SimSerial>();
        sim = serial.get();
        dll = std::make_unique<zelto::ZeltoDLL>(std::move(serial));
        board = std::make_unique<NativeBoard>(*dll);
        monitor = std::make_unique<Monitor>(view, *board);
    }

    // The commands the board decoded since the last call, in plain words.
    std::vector<std::string> wire() {
        std::vector<std::string> texts;
        sim->withModel([&](BoardModel& m) {
            for (const auto& e : m.events())
                texts.push_back(e.text);
            m.clearLog();
        });
        return texts;
    }
    BoardModel::State state() {
        BoardModel::State s;
        sim->withModel([&](BoardModel& m) { s = m.state(); });
        return s;
    }
    void setReading(uint16_t value) {
        sim->withModel([&](BoardModel& m) { m.state().analog[0] = value; });
    }

    Log log;
    FakeView view{log};
    zelto::sim::SimSerial* sim = nullptr;
    std::unique_ptr<zelto::ZeltoDLL> dll;
    std::unique_ptr<NativeBoard> board;
    std::unique_ptr<Monitor> monitor;
};

TEST_F(SimBoardTest, ConnectsAndDrivesTheBoardWithinAndOverTheLimit) {
    view.picked = "4";
    monitor->portPicked();
    EXPECT_EQ(view.caption[Label::CStatus], "Connected");
    EXPECT_EQ(sim->commPort(), 4);
    EXPECT_TRUE(view.timer);
    wire();

    setReading(153);
    monitor->tick();
    EXPECT_EQ(view.caption[Label::Temp], "Temp=74.8 F");
    EXPECT_EQ(view.colour[Label::Temp], kGreen);
    const std::vector<std::string> within = wire();
    ASSERT_GE(within.size(), 8u);
    EXPECT_EQ(within[0], "led on");
    for (size_t n = 1; n <= 5; ++n)
        EXPECT_EQ(within[n], "a2d pin 0") << n;
    BoardModel::State s = state();
    EXPECT_TRUE(s.led);
    EXPECT_EQ(s.latch & 1, 0);
    EXPECT_EQ(s.pwmChannel, (BoardModel::Pwm{0, 5000}));
    EXPECT_FALSE(s.lastTone.has_value());

    setReading(205);
    monitor->tick();
    EXPECT_EQ(view.caption[Label::Temp], "Temp=100.2 F");
    EXPECT_EQ(view.colour[Label::Temp], kRed);
    s = state();
    EXPECT_FALSE(s.led);
    EXPECT_EQ(s.latch & 1, 1);
    EXPECT_EQ(s.pwmChannel, (BoardModel::Pwm{255, 5000}));
    EXPECT_EQ(s.lastTone, (BoardModel::Tone{1, 1000, 250}));
    int malformed = -1;
    sim->withModel([&](BoardModel& m) { malformed = m.malformedCount(); });
    EXPECT_EQ(malformed, 0);
}

TEST_F(SimBoardTest, ABoardThatFailsDuringATickIsShownAsDisconnected) {
    monitor->portPicked();
    monitor->tick();
    sim->setWriteError(zelto::err::DeviceGone);
    view.caption[Label::Temp] = "unchanged";
    monitor->tick();
    EXPECT_EQ(view.caption[Label::CStatus], "Disconnected");
    EXPECT_EQ(view.colour[Label::CStatus], kRed);
    EXPECT_FALSE(view.timer);
    EXPECT_EQ(view.caption[Label::Temp], "unchanged");
    EXPECT_TRUE(dll->portopen()); // nothing else changes, the port included

    sim->setWriteError(0);
    monitor->portPicked();
    EXPECT_EQ(view.caption[Label::CStatus], "Connected");
    monitor->tick();
    EXPECT_EQ(view.caption[Label::Temp], "Temp=0.0 F");
}

} // namespace
} // namespace warmscope::test
