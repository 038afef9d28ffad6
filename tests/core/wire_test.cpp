// The wire table on the in-process simulated component, which sees every write and gives the
// board's reply bytes exactly.

#include "board_fixture.h"
#include "wire_table.h"

#include <thread>

namespace zelto::test {
namespace {

namespace d = zelto::dispid;

class Wire : public BoardTest, public ::testing::WithParamInterface<WireRow> {};

TEST_P(Wire, InProcess) {
    const WireRow& r = GetParam();
    open();
    answer(fromHex(r.reply));
    Variant result;
    EXPECT_EQ(errorOf([&] { result = call(r.dispid, r.kind, r.args); }), r.error);
    EXPECT_EQ(hexWrites(*serial), r.writes);
    if (r.error == 0) {
        EXPECT_EQ(result, r.result);
    }
    EXPECT_TRUE(board->ready()) << "the link is left claimed";
    // Only the registers' own members change their cache: a setter keeps the caller's value even
    // when it cannot be sent, a getter what the board answered.
    board->portopen(false);
    const Variant& kept = r.kind == MemberKind::PropertyLet ? r.args[0] : r.result;
    EXPECT_EQ(board->tris(), r.dispid == d::tris ? kept : Variant());
    EXPECT_EQ(board->pins(), r.dispid == d::pins ? kept.toLong() : 0);
}

INSTANTIATE_TEST_SUITE_P(Rows, Wire, ::testing::ValuesIn(wireTable()), rowName);

TEST_F(BoardTest, ClosedPortFailsEveryCommandWith68AndWritesNothing) {
    for (const WireRow& r : wireTable()) {
        // The registers work on their cache while the port is closed.
        if (r.writes.empty() || r.error != 0 || r.dispid == d::tris || r.dispid == d::pins)
            continue;
        SCOPED_TRACE(::testing::PrintToString(r));
        // Reading the memory hands its address to the component before the port check.
        const bool loadsFirst = r.dispid == d::eeprom && r.kind == MemberKind::PropertyGet;
        EXPECT_EQ(errorOf([&] { call(r.dispid, r.kind, r.args); }),
                  loadsFirst ? err::PortNotOpen : 68);
    }
    EXPECT_TRUE(serial->writes().empty());
    EXPECT_FALSE(PrimitiveAccess::busy(*board));
    // putcmd does not check: the component's own error reaches the caller.
    EXPECT_EQ(errorOf([&] { PrimitiveAccess::putcmd(*board, cmd::resetall, ""); }),
              err::PortNotOpen);
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
