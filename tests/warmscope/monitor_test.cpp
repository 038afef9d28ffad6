#include "fakes.h"

#include <gtest/gtest.h>

namespace warmscope::test {
namespace {

Log sampling(bool led) {
    return {"ready?", led ? "led=True" : "led=False", "a2d(0)", "a2d(0)", "a2d(0)", "a2d(0)",
            "a2d(0)"};
}
const Log kSampling = sampling(true);
const Log kWithin = {"Temp colour 65280", "low(0)", "pwm(-1,0,5000)"};
Log over(int duty) {
    return {"Temp colour 255", "high(0)", "pwm(-1," + std::to_string(duty) + ",5000)",
            "freq(1,1000,250)"};
}
const Log kConnect = {"timer off", "portopen=False", "CommPort=1%", "portopen=True", "ready?"};
const Log kConnected = {"pwm(-1,0,5000)", "low(0)", "CStatus caption Connected",
                        "CStatus colour 65280", "timer on"};
const Log kRefused = {"CStatus caption Disconnected", "CStatus colour 255",
                      "message Can't connect to I/O Board"};
const Log kLost = {"timer off", "CStatus caption Disconnected", "CStatus colour 255"};

// A row of the tables below prints as its name.
template <typename Row>
requires requires(const Row& row) {
    row.name;
}
void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}

class MonitorTest : public ::testing::Test {
  protected:
    // Runs one tick and returns what it did after the five readings, the caption change included.
    Log tickAfterSampling() {
        const Log expected = sampling(!monitor.blink());
        log.clear();
        monitor.tick();
        const size_t n = std::min(log.size(), expected.size());
        EXPECT_EQ(Log(log.begin(), log.begin() + static_cast<long>(n)), expected);
        return Log(log.begin() + static_cast<long>(n), log.end());
    }
    Log log;
    RecordingBoard board{log};
    FakeView view{log};
    Monitor monitor{view, board};
};

TEST_F(MonitorTest, LoadingFillsThePortListWithOneToTen) {
    monitor.loaded();
    EXPECT_EQ(view.ports,
              (std::vector<std::string>{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}));
}

struct TickCase {
    const char* name;
    std::vector<Variant> readings;
    std::string limit;
    std::string caption;
    Log after; // the calls after the caption is shown
    std::string tag = "Temp=";
};

class TickTable : public MonitorTest, public ::testing::WithParamInterface<TickCase> {};

TEST_P(TickTable, ShowsTheReadingAndDrivesTheOutputs) {
    const TickCase& c = GetParam();
    board.readings.assign(c.readings.begin(), c.readings.end());
    view.limit = c.limit;
    view.tag = c.tag;
    // Every change to the view is in the log: a row without calls after the caption sets no colour.
    EXPECT_EQ(tickAfterSampling(), join({{"Temp caption " + c.caption}, c.after}));
}

const std::vector<Variant> k153 = {153};
const std::vector<Variant> k1023 = {1023};

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, TickTable,
    ::testing::Values(
        TickCase{"Average153", k153, "75", "Temp=74.8 F", kWithin},
        TickCase{"Average154", {154}, "75", "Temp=75.3 F", over(10)},
        TickCase{"Average158", {158}, "75", "Temp=77.2 F", over(64)},
        TickCase{"Average205", {205}, "75", "Temp=100.2 F", over(255)},
        TickCase{"LimitZero", {205}, "0", "Temp=100.2 F", {}},
        // 164 is 80.16 F: over 80 but within 80.5; 165 is 80.65 F.
        TickCase{"LimitWithFractionWithin", {164}, "80.5", "Temp=80.2 F", kWithin},
        TickCase{"LimitWithFractionOver", {165}, "80.5", "Temp=80.6 F", over(10)},
        TickCase{"EqualToLimitIsWithin", k1023, "500", "Temp=500.0 F", kWithin},
        TickCase{"JustOverLimit", k1023, "499.99", "Temp=500.0 F", over(10)},
        TickCase{"NegativeLimit", {0}, "-5", "Temp=0.0 F", over(64)},
        TickCase{"AveragedAsDoubles", {153, 153, 153, 153, 154}, "75", "Temp=74.9 F", kWithin},
        // Readings of other types are taken as Longs: 153.5 rounds to the even 154.
        TickCase{"OtherTypesAsLongs",
                 {int16_t{154}, 153.5, "154", int16_t{154}, int16_t{154}},
                 "75",
                 "Temp=75.3 F",
                 over(10)},
        TickCase{"TheStoredTag", k153, "75", "T: 74.8 F", kWithin, "T: "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MonitorTest, AnEditOfTheLimitCountsAtTheNextTick) {
    board.readings = {Variant(int32_t{154})};
    tickAfterSampling();
    EXPECT_EQ(view.colour[Label::Temp], kRed);
    view.limit = "76";
    tickAfterSampling();
    EXPECT_EQ(view.colour[Label::Temp], kGreen);
}

// That the skipped tick does not count for the blink is in TheBlinkGoesOnAcrossConnections.
TEST_F(MonitorTest, ANotReadyBoardMakesTheTickDoNothing) {
    board.ready = false;
    monitor.tick();
    EXPECT_EQ(log, Log{"ready?"});
    EXPECT_FALSE(monitor.blink());
}

struct ConnectCase {
    const char* name;
    std::string failingCall; // empty: none
    bool ready;
    bool connected;
};

class ConnectTable : public MonitorTest, public ::testing::WithParamInterface<ConnectCase> {};

TEST_P(ConnectTable, FailsWhenAStepFromThePortNumberOnFails) {
    const ConnectCase& c = GetParam();
    if (!c.failingCall.empty())
        board.failures[c.failingCall] = {8101};
    board.ready = c.ready;
    view.timer = true; // as while connected

    monitor.portPicked();
    // Every step runs whatever failed before it. The log holds every change to the view: the timer
    // is stopped first and restarted only on success, and the reading is left as it was.
    EXPECT_EQ(log, join({kConnect, c.connected ? kConnected : kRefused}));
}

INSTANTIATE_TEST_SUITE_P(
    Steps, ConnectTable,
    ::testing::Values(ConnectCase{"Succeeds", "", true, true},
                      ConnectCase{"ClosingFails", "portopen=False", true, true},
                      ConnectCase{"PortNumberFails", "CommPort=", true, false},
                      ConnectCase{"OpeningFails", "portopen=True", true, false},
                      ConnectCase{"NotReady", "", false, false},
                      ConnectCase{"ReadyRaises", "ready?", true, false},
                      ConnectCase{"PwmFailsUnnoticed", "pwm(", true, true},
                      ConnectCase{"LowFailsUnnoticed", "low(", true, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MonitorTest, APortTextThatIsNotANumberFailsTheConnection) {
    view.picked = "COM1";
    monitor.portPicked();
    EXPECT_EQ(log, join({{"timer off", "portopen=False", "portopen=True", "ready?"}, kRefused}));
}

TEST_F(MonitorTest, TheBlinkGoesOnAcrossConnections) {
    monitor.portPicked();
    monitor.tick();
    board.ready = false;
    monitor.tick();
    board.ready = true;
    monitor.tick();
    monitor.tick();
    monitor.portPicked();
    monitor.tick();
    board.failures["portopen=True"] = {8101};
    monitor.portPicked();
    monitor.tick(); // a tick that slipped in anyway
    std::erase_if(log, [](const std::string& call) { return call.rfind("led=", 0) != 0; });
    EXPECT_EQ(log, (Log{"led=True", "led=False", "led=True", "led=False", "led=True"}));
}

struct FailingTickCase {
    const char* name;
    std::string failingCall;
    int occurrence;
    int32_t reading;
    Log doneBefore; // the calls made up to and including the failing one
};

class FailingTick : public MonitorTest, public ::testing::WithParamInterface<FailingTickCase> {};

TEST_P(FailingTick, StopsAtTheCallAndDisconnects) {
    const FailingTickCase& c = GetParam();
    monitor.portPicked();
    board.readings = {Variant(c.reading)};
    if (!c.failingCall.empty())
        board.failures[c.failingCall] = {zelto::err::DeviceGone, c.occurrence};

    log.clear();
    ASSERT_NO_THROW(monitor.tick());
    // The log holds every action of the handler: nothing happens beyond these.
    EXPECT_EQ(log, join({c.doneBefore, kLost}));

    // Picking a port again reconnects and the ticks resume.
    log.clear();
    monitor.portPicked();
    EXPECT_EQ(log, join({kConnect, kConnected}));
    board.readings = {Variant(int32_t{153})};
    EXPECT_EQ(tickAfterSampling(), join({{"Temp caption Temp=74.8 F"}, kWithin}));
}

const Log kSampled = join({kSampling, {"Temp caption Temp=74.8 F"}});
const Log kSampledOver = join({kSampling, {"Temp caption Temp=75.3 F"}});

INSTANTIATE_TEST_SUITE_P(
    EachCall, FailingTick,
    ::testing::Values(
        FailingTickCase{"Ready", "ready?", 1, 153, {"ready?"}},
        FailingTickCase{"Led", "led=", 1, 153, {"ready?", "led=True"}},
        FailingTickCase{
            "ThirdReading", "a2d(", 3, 153, {"ready?", "led=True", "a2d(0)", "a2d(0)", "a2d(0)"}},
        FailingTickCase{"Low", "low(", 1, 153, join({kSampled, {"Temp colour 65280", "low(0)"}})},
        FailingTickCase{"PwmWithin", "pwm(", 1, 153, join({kSampled, kWithin})},
        FailingTickCase{"High", "high(", 1, 154,
                        join({kSampledOver, {"Temp colour 255", "high(0)"}})},
        FailingTickCase{"PwmOver", "pwm(", 1, 154,
                        join({kSampledOver, {"Temp colour 255", "high(0)", "pwm(-1,10,5000)"}})},
        FailingTickCase{"Freq", "freq(", 1, 154, join({kSampledOver, over(10)})},
        // No call fails: the sum of the readings is a Long, which the third 10^9 overflows.
        FailingTickCase{"SumOverflows",
                        "",
                        1,
                        1'000'000'000,
                        {"ready?", "led=True", "a2d(0)", "a2d(0)", "a2d(0)"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MonitorTest, APickDuringAFailingTickDecidesTheConnection) {
    monitor.portPicked();
    bool picked = false;
    board.during = [&](const std::string& call) {
        if (call == "a2d(0)" && !picked) {
            picked = true;
            view.picked = "2";
            monitor.portPicked(); // the user picked while the reading waited for the link
        }
    };
    board.failures["a2d("] = {zelto::err::DeviceUnavailable};
    monitor.tick();
    EXPECT_TRUE(picked);
    EXPECT_EQ(view.caption[Label::CStatus], "Connected");
    EXPECT_TRUE(view.timer);
}

} // namespace
} // namespace warmscope::test
