// The line rules that every serial component shares, one table run against each component of the
// platform: the same value fails with the same number everywhere and leaves the set-up as it was.

#include "errors.h"
#include "serial_base.h"
#include "sim_serial.h"
#include "test_support.h"

#ifdef _WIN32
#include "win32_serial.h"
#else
#include "posix_serial.h"
#include "pty_pair.h"
#endif

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zelto {
namespace {

using test::errorOf;

// A component under test, closed, with the device it opens where the platform offers one here.
struct Subject {
    std::shared_ptr<void> device;
    std::unique_ptr<SerialBase> port;
    bool canOpen = true;
};

struct Component {
    const char* name;
    std::function<Subject()> make;
};

void PrintTo(const Component& c, std::ostream* os) {
    *os << c.name;
}

struct Rule {
    std::string what;
    bool open; // the row runs on an open port
    std::function<void(SerialBase&)> action;
    int32_t error; // 0: accepted
};

std::vector<Rule> rules() {
    std::vector<Rule> rows = {
        {"port 1", false, [](SerialBase& p) { p.setCommPort(1); }, 0},
        {"port 255", false, [](SerialBase& p) { p.setCommPort(255); }, 0},
        {"port 0", false, [](SerialBase& p) { p.setCommPort(0); }, err::InvalidPortNumber},
        {"port -1", false, [](SerialBase& p) { p.setCommPort(-1); }, err::InvalidPortNumber},
        {"port 256", false, [](SerialBase& p) { p.setCommPort(256); }, err::InvalidPortNumber},
        {"port 32767", false, [](SerialBase& p) { p.setCommPort(32767); }, err::InvalidPortNumber},
        {"port while open", true, [](SerialBase& p) { p.setCommPort(2); }, err::PortAlreadyOpen},
        {"bad port while open", true, [](SerialBase& p) { p.setCommPort(0); },
         err::InvalidPortNumber},
        {"open while open", true, [](SerialBase& p) { p.setPortOpen(true); }, err::PortAlreadyOpen},
        {"close while closed", false, [](SerialBase& p) { p.setPortOpen(false); }, 0},
        {"cts while closed", false, [](SerialBase& p) { p.ctsHolding(); }, err::PortNotOpen},
        {"output while closed", false, [](SerialBase& p) { p.setOutput("\x01"); },
         err::PortNotOpen},
        {"input while closed", false, [](SerialBase& p) { p.input(Millis{10}); }, err::PortNotOpen},
        {"handshaking -1", false, [](SerialBase& p) { p.setHandshaking(-1); },
         err::InvalidArgument},
        {"handshaking 4", false, [](SerialBase& p) { p.setHandshaking(4); }, err::InvalidArgument},
        {"handshaking 4 while open", true, [](SerialBase& p) { p.setHandshaking(4); },
         err::InvalidArgument},
        {"input length -1", false, [](SerialBase& p) { p.setInputLen(-1); }, err::InvalidArgument},
        {"input length 0", false, [](SerialBase& p) { p.setInputLen(0); }, 0},
        {"threshold -1", false, [](SerialBase& p) { p.setSThreshold(-1); }, err::InvalidArgument},
        {"threshold 0", false, [](SerialBase& p) { p.setSThreshold(0); }, 0},
    };
    for (int mode = 0; mode <= 3; ++mode)
        rows.push_back({"handshaking " + std::to_string(mode), mode % 2 == 1,
                        [mode](SerialBase& p) { p.setHandshaking(static_cast<int16_t>(mode)); },
                        0});
    const struct {
        const char* settings;
        bool good;
    } settings[] = {
        {"57600,N,8,1", true},
        {"9600,e,7,2", true},
        {"115200,o,5,1", true},
        {"50,N,6,2", true},
        {"4000000,N,8,1", true},
        {"1200,E,8,1", true},
        {"", false},
        {"57600", false},
        {"57600,N,8", false},
        {"57600,N,8,1,", false},
        {"57601,N,8,1", false},
        {"0,N,8,1", false},
        {"4000001,N,8,1", false},
        {"fast,N,8,1", false},
        {"-9600,N,8,1", false},
        {"57600,X,8,1", false},
        {"57600,M,8,1", false},
        {"57600,S,8,1", false},
        {"57600,NN,8,1", false},
        {"57600,,8,1", false},
        {"57600,N,9,1", false},
        {"57600,N,4,1", false},
        {"57600,N,8,1.5", false},
        {"57600,N,8,0", false},
        {" 57600,N,8,1", false},
        {"57600, N,8,1", false},
        {"57600,N,8,1 ", false},
        {"57600,N,+8,1", false},
        {"9600;N;8;1", false},
    };
    for (const auto& s : settings)
        for (bool open : {false, true})
            rows.push_back(
                {std::string("settings \"") + s.settings + "\"" + (open ? " open" : ""), open,
                 [text = std::string(s.settings)](SerialBase& p) { p.setSettings(text); },
                 s.good ? 0 : err::InvalidArgument});
    return rows;
}

struct LineSetUp {
    int16_t port;
    bool open;
    std::string settings;
    int16_t handshaking, inputLen, sThreshold;
    bool operator==(const LineSetUp&) const = default;
};

LineSetUp setUpOf(const SerialBase& p) {
    return {p.commPort(),    p.portOpen(), p.settings(),
            p.handshaking(), p.inputLen(), p.sThreshold()};
}

class LineRules : public ::testing::TestWithParam<Component> {};

TEST_P(LineRules, EveryValueFailsWithItsNumberAndKeepsTheSetUp) {
    for (const Rule& rule : rules()) {
        SCOPED_TRACE(rule.what);
        const Subject subject = GetParam().make();
        if (rule.open && !subject.canOpen)
            continue;
        SerialBase& port = *subject.port;
        port.setCommPort(3);
        port.setSettings("19200,N,8,2");
        port.setHandshaking(1);
        port.setInputLen(2);
        port.setSThreshold(4);
        if (rule.open)
            port.setPortOpen(true);
        const LineSetUp before = setUpOf(port);
        EXPECT_EQ(errorOf([&] { rule.action(port); }), rule.error);
        if (rule.error != 0) {
            EXPECT_TRUE(setUpOf(port) == before) << "a refused value changed the set-up";
        }
        port.setPortOpen(false);
    }
}

const Component kComponents[] = {
    {"SimSerial",
     [] {
         return Subject{nullptr, std::make_unique<sim::SimSerial>()};
     }},
#ifdef _WIN32
    // No COM port is mapped for the unit tests: the rules of a closed port only.
    {"Win32Serial",
     [] {
         return Subject{nullptr, std::make_unique<Win32Serial>(), false};
     }},
#else
    {"PosixSerial",
     [] {
         auto pty = std::make_shared<test::PtyPair>();
         return Subject{pty, std::make_unique<PosixSerial>(pty->path())};
     }},
#endif
};

INSTANTIATE_TEST_SUITE_P(Components, LineRules, ::testing::ValuesIn(kComponents),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace zelto
