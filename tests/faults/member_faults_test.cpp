// Every member that talks to the board, against a line that never rises, a device that vanishes
// at each step, and a board that answers more than it was asked.

#include "fault_fixture.h"

namespace zelto::faults {
namespace {

class EveryMember : public ::testing::TestWithParam<WireRow> {
  protected:
    // The memory getter writes its operand load before it waits for the link.
    std::string writtenBeforeTheWait() const {
        const WireRow& r = GetParam();
        return r.dispid == dispid::eeprom && r.kind == K::PropertyGet ? r.writes[0] : "";
    }
    int writes() const { return static_cast<int>(GetParam().writes.size()); }
};

TEST_P(EveryMember, LineThatNeverRisesEndsItWith8120AndLeavesTheLinkFree) {
    const WireRow& c = GetParam();
    SimBoard b;
    b.open();
    b.serial->setCts(false);
    EXPECT_EQ(errorOf([&] { b.call(c); }), err::LinkTimeout);
    EXPECT_EQ(b.written(), writtenBeforeTheWait());
    EXPECT_TRUE(b.linkFree());

    // Nothing is left over: once the line rises the same call goes through whole.
    b.serial->setCts(true);
    b.serial->clearWrites();
    EXPECT_EQ(errorOf([&] { b.call(c); }), 0);
    EXPECT_EQ(static_cast<int>(b.serial->writes().size()), writes());
    EXPECT_EQ(b.model->malformedCount(), 0);
    EXPECT_TRUE(b.board->ready());
}

TEST_P(EveryMember, DeviceVanishingWhileTheLinkIsAwaited) {
    const WireRow& c = GetParam();
    SimBoard b;
    b.open();
    b.serial->setCts(false);
    b.faults->failCts(3, err::DeviceGone);
    EXPECT_EQ(errorOf([&] { b.call(c); }), err::DeviceGone);
    EXPECT_EQ(b.written(), writtenBeforeTheWait());
    EXPECT_TRUE(b.linkFree());
}

TEST_P(EveryMember, DeviceVanishingAtEachWrite) {
    const WireRow& c = GetParam();
    for (int k = 1; k <= writes(); ++k) {
        SCOPED_TRACE("write " + std::to_string(k));
        SimBoard b;
        b.open();
        b.faults->failWrite(k, err::DeviceGone);
        EXPECT_EQ(errorOf([&] { b.call(c); }), err::DeviceGone);
        EXPECT_EQ(static_cast<int>(b.serial->writes().size()), k - 1) << "wrote after the failure";
        EXPECT_TRUE(b.board->ready()) << "the link was left claimed";
        b.serial->clearWrites();
        EXPECT_EQ(errorOf([&] { b.call(c); }), 0);
        EXPECT_EQ(static_cast<int>(b.serial->writes().size()), writes());
    }
}

TEST_P(EveryMember, DeviceVanishingWhileTheReplyIsAwaited) {
    const WireRow& c = GetParam();
    SimBoard b;
    b.open();
    b.serial->failNextReads(1000, err::DeviceGone);
    Variant result;
    EXPECT_EQ(errorOf([&] { result = b.call(c); }), 0) << "a failed read raised";
    // As if the board had said nothing.
    SimBoard silent;
    silent.open();
    silent.serial->setSilent(true);
    EXPECT_EQ(result, silent.call(c));
    EXPECT_EQ(b.board->errflag(), silent.board->errflag());
    EXPECT_EQ(static_cast<int>(b.serial->writes().size()), writes());
    EXPECT_FALSE(PrimitiveAccess::busy(*b.board)) << "the link was left claimed";
}

// Extra bytes are not thrown away: the board object cannot tell a stray byte from one that a
// client means to read with readbyte. They wait for the next read, and a client that drains them
// with readbyte until errflag is set is back in step.
TEST_P(EveryMember, BytesBeyondTheReplyWaitForReadbyte) {
    const WireRow& c = GetParam();
    SimBoard clean;
    clean.open();
    const Variant expected = clean.call(c);

    SimBoard b;
    b.open();
    b.faults->afterWrite = [&](int n) {
        if (n == writes())
            b.serial->queueReply("\xEE\xEF");
    };
    EXPECT_EQ(b.call(c), expected);
    EXPECT_TRUE(b.board->ready());
    b.faults->afterWrite = nullptr;
    EXPECT_EQ(b.board->readbyte(), 0xEE);
    EXPECT_EQ(b.board->readbyte(), 0xEF);
    EXPECT_FALSE(b.board->errflag());
    EXPECT_EQ(b.board->readbyte(), 0);
    EXPECT_TRUE(b.board->errflag());
    EXPECT_EQ(b.call(c), expected);
}

INSTANTIATE_TEST_SUITE_P(Faults, EveryMember, ::testing::ValuesIn(sendingMembers()), rowName);

TEST(OpeningFaults, DeviceVanishingAtEachStepOfTheOpening) {
    // The writes of an opening: 00, 01, then the cached port and direction values.
    for (int k = 1; k <= 4; ++k) {
        SCOPED_TRACE("write " + std::to_string(k));
        SimBoard b;
        b.faults->failWrite(k, err::DeviceGone);
        EXPECT_EQ(errorOf([&] { b.board->portopen(true); }), err::DeviceGone);
        EXPECT_EQ(static_cast<int>(b.serial->writes().size()), k - 1);
        EXPECT_TRUE(b.board->portopen()) << "the port stays open, as the component left it";
        EXPECT_TRUE(b.board->ready());
        // Closing and opening again is the way back.
        b.board->portopen(false);
        b.serial->clearWrites();
        b.board->portopen(true);
        EXPECT_EQ(b.written(), "00 01 04 80 02 80");
    }
}

TEST(OpeningFaults, LineThatNeverRisesLeavesThePortOpenAndNothingWritten) {
    SimBoard b;
    b.serial->setCts(false);
    EXPECT_EQ(errorOf([&] { b.board->portopen(true); }), err::LinkTimeout);
    EXPECT_TRUE(b.board->portopen());
    EXPECT_EQ(b.written(), "");
    EXPECT_TRUE(b.linkFree());
    EXPECT_EQ(errorOf([&] { b.board->portopen(true); }), err::PortAlreadyOpen);
}

TEST(ReentryFaults, AMemberReenteredFromThePumpFails) {
    struct Case {
        const char* name;
        std::function<void(SimBoard&)> nested; // runs from the pump while high(5) waits
        bool escapes; // not caught in the pump, as host code that fails in the message loop
        bool raiseLineAfterwards;
        int nestedError;
        int outerError;
        const char* written;
    };
    const Case cases[] = {
        // The inner member waits out its own limit; the outer one's has gone by meanwhile.
        {"waits out its own link limit", [](SimBoard& b) { b.board->a2d(1); }, false, false,
         err::LinkTimeout, err::LinkTimeout, ""},
        {"its write fails",
         [](SimBoard& b) {
             b.serial->setCts(true);
             b.faults->failWrite(1, err::DeviceGone);
             b.board->low(1);
         },
         false, true, err::DeviceGone, 0, "1B"},
        {"its reply never comes",
         [](SimBoard& b) {
             b.serial->setCts(true);
             b.serial->setSilent(true);
             if (b.board->a2d(1) != 0 || !b.board->errflag())
                 throw std::runtime_error("the failed read was not reported");
             b.serial->setSilent(false);
         },
         false, true, 0, 0, "32 1B"},
        {"it closes the port", [](SimBoard& b) { b.board->portopen(false); }, false, true, 0,
         err::PortNotOpen, ""},
        {"the host code itself throws",
         [](SimBoard&) { throw AutomationError(err::InvalidArgument); }, true, true, 0,
         err::InvalidArgument, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::OncePump pump;
        SimBoard b(&pump);
        b.open();
        b.serial->setCts(false);
        int nestedError = 0;
        pump.once = [&] {
            if (c.escapes)
                c.nested(b);
            else
                nestedError = errorOf([&] { c.nested(b); });
            if (c.raiseLineAfterwards)
                b.serial->setCts(true);
        };
        EXPECT_EQ(errorOf([&] { b.board->high(5); }), c.outerError);
        EXPECT_EQ(nestedError, c.nestedError);
        EXPECT_EQ(b.written(), c.written);
        EXPECT_TRUE(b.linkFree());
    }
}

} // namespace
} // namespace zelto::faults
