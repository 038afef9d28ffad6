// The handlers against the library's board object on a simulated board, called through the member
// table by dispatch identifier: what the board receives is decoded by the board model.

#include "fakes.h"
#include "faulty_sim_serial.h"
#include "native_board.h"

#include <gtest/gtest.h>

namespace warmscope::test {
namespace {

using zelto::sim::BoardModel;

class SimBoardTest : public ::testing::Test {
  protected:
    // The commands the board decoded since the last call, in plain words.
    Log wire() {
        Log texts;
        for (const auto& e : model.events())
            texts.push_back(e.text);
        model.clearLog();
        return texts;
    }

    Log log;
    FakeView view{log};
    std::unique_ptr<zelto::test::FaultySimSerial> owned =
        std::make_unique<zelto::test::FaultySimSerial>();
    zelto::test::FaultySimSerial* sim = owned.get();
    BoardModel& model = *sim->model();
    zelto::ZeltoDLL dll{std::move(owned)};
    NativeBoard board{dll};
    Monitor monitor{view, board};
};

TEST_F(SimBoardTest, ConnectsAndDrivesTheBoardWithinAndOverTheLimit) {
    view.picked = "4";
    monitor.portPicked();
    EXPECT_EQ(view.caption[Label::CStatus], "Connected");
    EXPECT_EQ(sim->commPort(), 4);
    EXPECT_TRUE(view.timer);
    wire();

    model.state().analog[0] = 153;
    monitor.tick();
    EXPECT_EQ(view.caption[Label::Temp], "Temp=74.8 F");
    EXPECT_EQ(view.colour[Label::Temp], kGreen);
    const Log sampling(5, "a2d pin 0");
    EXPECT_EQ(wire(),
              join({{"led on"},
                    sampling,
                    {"low pin 0", "load operand 5000", "pwm channel duty 0 fduration 5000"}}));

    model.state().analog[0] = 205;
    monitor.tick();
    EXPECT_EQ(view.caption[Label::Temp], "Temp=100.2 F");
    EXPECT_EQ(view.colour[Label::Temp], kRed);
    EXPECT_EQ(wire(),
              join({{"led off"},
                    sampling,
                    {"high pin 0", "load operand 5000", "pwm channel duty 255 fduration 5000",
                     "load operand 250", "tone pin 1 value 1000 duration 250"}}));
    EXPECT_EQ(model.malformedCount(), 0);
}

TEST_F(SimBoardTest, ABoardThatFailsDuringATickIsShownAsDisconnected) {
    monitor.portPicked();
    monitor.tick();
    sim->setWriteError(zelto::err::DeviceGone);
    log.clear();
    monitor.tick();
    // The view's log holds every change to it: the reading is kept.
    EXPECT_EQ(log, (Log{"timer off", "CStatus caption Disconnected", "CStatus colour 255"}));
    EXPECT_TRUE(dll.portopen()); // nothing else changes, the port included

    sim->setWriteError(0);
    monitor.portPicked();
    EXPECT_EQ(view.caption[Label::CStatus], "Connected");
    monitor.tick();
    EXPECT_EQ(view.caption[Label::Temp], "Temp=0.0 F");
}

} // namespace
} // namespace warmscope::test
