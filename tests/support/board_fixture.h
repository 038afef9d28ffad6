#pragma once

#include "board_model.h"
#include "errors.h"
#include "faulty_sim_serial.h"
#include "member_table.h"
#include "test_support.h"
#include "zeltodll.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zelto {

// Reaches the board object's private primitives.
struct PrimitiveAccess {
    // The claim comes back to the caller: the link stays held while it is kept.
    static auto sendcmd(ZeltoDLL& z, cmd::Command c) { return z.sendcmd(c); }
    static auto sendvaluecmd(ZeltoDLL& z, int32_t v, cmd::Command c, const Bytes& data) {
        return z.sendvaluecmd(v, c, data);
    }
    static void putcmd(ZeltoDLL& z, cmd::Command c, const Bytes& data) { z.putcmd(c, data); }
    static void loadvalue(ZeltoDLL& z, int32_t v) { z.loadvalue(v); }
    static bool busy(const ZeltoDLL& z) { return z.m_busy; }
};

namespace test {

// Short limits keep the tests of silent boards and low lines fast.
inline Limits fastLimits() {
    return Limits{Millis{300}, Millis{30}, Millis{60}};
}

// Writes as upper-case hex, one string per write: {"09 80 96", "5B"}.
inline std::vector<std::string> hexWrites(const sim::SimSerial& serial) {
    std::vector<std::string> out;
    for (const Bytes& w : serial.writes())
        out.push_back(sim::hex(w));
    return out;
}

// A board object joined to a simulated board.
class BoardTest : public ::testing::Test {
  protected:
    explicit BoardTest(MessagePump* pump = nullptr) { make(pump); }

    void make(MessagePump* pump = nullptr, Limits limits = fastLimits()) {
        auto serial = std::make_unique<FaultySimSerial>(model);
        this->serial = serial.get();
        board = std::make_unique<ZeltoDLL>(std::move(serial), pump, limits);
    }

    // Opens the port and forgets the opening's traffic.
    void open() {
        board->portopen(true);
        serial->clearWrites();
    }

    // The board answers exactly these bytes and nothing else.
    void answer(const Bytes& bytes) {
        serial->setSilent(true);
        serial->queueReply(bytes);
    }

    Variant call(int32_t dispid, MemberKind kind, std::vector<Variant> args = {}) {
        return invoke(*board, dispid, kind, args);
    }

    std::shared_ptr<sim::BoardModel> model = std::make_shared<sim::BoardModel>();
    FaultySimSerial* serial = nullptr;
    std::unique_ptr<ZeltoDLL> board;
};

} // namespace test
} // namespace zelto
