#include "board_fixture.h"

#include <chrono>
#include <memory>
#include <optional>

namespace zelto::test {
namespace {

using V = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

class CoreTest : public BoardTest {};

TEST_F(CoreTest, CreationConfiguresTheLineAndSendsNothing) {
    EXPECT_EQ(serial->config(), (V{"DTREnable=1", "Handshaking=2", "InputLen=1", "RTSEnable=1",
                                   "Settings=57600,N,8,1", "SThreshold=1"}));
    EXPECT_FALSE(board->errflag());
    EXPECT_FALSE(board->portopen());
    EXPECT_TRUE(board->tris().isEmpty());
    EXPECT_EQ(board->pins(), 0);
    EXPECT_TRUE(serial->writes().empty());
    EXPECT_EQ(serial->inputCalls(), 0);
}

TEST_F(CoreTest, OpeningHandshakeVariants) {
    struct Case {
        const char* name;
        bool scripted; // the board sends exactly replies; else the model answers by itself
        Bytes replies;
        Bytes leftOver;
        bool errflag;
    };
    const Case cases[] = {
        {"answers at once", false, "", "", false},
        {"three stray bytes first", true, Bytes("\x01\x02\x03\x33\x44", 5), "\x44", false},
        {"ten bytes without 51", true, Bytes("ABCDEFGHIJKL"), "KL", false},
        {"silent", true, Bytes(), "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        make();
        if (c.scripted)
            answer(c.replies);
        board->portopen(true);
        EXPECT_EQ(hexWrites(*serial), (V{"00", "01", "04 80", "02 80"}));
        EXPECT_EQ(serial->pending(), c.leftOver);
        EXPECT_EQ(board->errflag(), c.errflag);
        EXPECT_TRUE(board->ready());
    }
}

TEST_F(CoreTest, AFailedReadCountsAsOneOfTheTen) {
    serial->failNextReads(10);
    board->portopen(true);
    EXPECT_EQ(serial->pending(), "\x33"); // the answer came, but ten reads were spent
    EXPECT_TRUE(board->errflag());
    EXPECT_EQ(hexWrites(*serial).size(), 4u);
}

TEST_F(CoreTest, ValuesCachedWhileClosedReachTheBoardOnOpening) {
    board->pins(165);
    board->tris(Variant(15));
    EXPECT_TRUE(serial->writes().empty());
    EXPECT_EQ(board->pins(), 165);
    EXPECT_EQ(board->tris(), Variant(15));

    board->portopen(true);
    EXPECT_EQ(hexWrites(*serial), (V{"00", "01", "05 D2", "03 87"}));
    EXPECT_EQ(model->state().latch, 165);
    EXPECT_EQ(model->state().tris, 15);
}

TEST_F(CoreTest, ClosingSendsNothingAndReopeningResendsTheCache) {
    open();
    board->pins(7);
    board->errflag(true);
    serial->clearWrites();
    board->portopen(false);
    EXPECT_TRUE(serial->writes().empty());
    EXPECT_FALSE(board->portopen());
    EXPECT_TRUE(board->errflag());
    EXPECT_EQ(board->pins(), 7);
    EXPECT_TRUE(board->tris().isEmpty());
    board->portopen(true);
    EXPECT_EQ(hexWrites(*serial), (V{"00", "01", "05 83", "02 80"}));
}

// A value of a type the core does not know, with or without a number of its own.
struct OtherValue final : ForeignValue {
    explicit OtherValue(std::optional<double> n) : n(n) {}
    double number() const override {
        if (!n)
            raise(err::TypeMismatch);
        return *n;
    }
    bool equals(const ForeignValue& o) const override {
        const auto* other = dynamic_cast<const OtherValue*>(&o);
        return other && other->n == n;
    }
    std::optional<double> n;
};

// The direction value is kept as given; only sending it converts it, at the next opening or at once
// with the port open, and a value that cannot be sent fails with nothing of it written.
TEST_F(CoreTest, ACachedValueIsKeptAsGivenAndFailsOnlyWhenSent) {
    const struct {
        const char* what;
        Variant value;
        int32_t error;
        V sent; // the direction bytes
    } rows[] = {
        {"a text without a number", Variant("abc"), 13, {}},
        {"Null", Variant::null(), 94, {}},
        {"a value without a number (an array, an object)",
         Variant(std::make_shared<OtherValue>(std::nullopt)),
         13,
         {}},
        {"a value with a number of its own (a date, an amount)",
         Variant(std::make_shared<OtherValue>(15.0)),
         0,
         {"03 87"}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        make();
        board->tris(r.value);
        EXPECT_TRUE(serial->writes().empty());
        EXPECT_EQ(board->tris(), r.value);
        EXPECT_EQ(errorOf([&] { board->portopen(true); }), r.error);
        V opening{"00", "01", "04 80"};
        opening.insert(opening.end(), r.sent.begin(), r.sent.end());
        EXPECT_EQ(hexWrites(*serial), opening);
        EXPECT_TRUE(board->portopen());
        serial->clearWrites();
        EXPECT_EQ(errorOf([&] { board->tris(r.value); }), r.error) << "with the port open";
        EXPECT_EQ(hexWrites(*serial), r.sent);
        board->portopen(false);
        EXPECT_EQ(board->tris(), r.value);
    }

    make();
    board->pins(300);
    board->tris(Variant(1));
    EXPECT_EQ(errorOf([&] { board->portopen(true); }), 5);
    EXPECT_EQ(hexWrites(*serial), (V{"00", "01"})); // the direction is not sent either
    EXPECT_TRUE(board->portopen());
    EXPECT_TRUE(board->ready());
}

TEST_F(CoreTest, ReadyReportsTheLineAndTheLinkAndCannotBeSet) {
    open();
    EXPECT_TRUE(board->ready());
    serial->setCts(false);
    EXPECT_FALSE(board->ready());
    EXPECT_EQ(errorOf([&] { board->ready(true); }), 387);
    EXPECT_EQ(errorOf([&] { board->ready(false); }), 387);
    EXPECT_FALSE(board->ready());
    serial->setCts(true);
    EXPECT_TRUE(board->ready());

    answer("\x01");
    {
        const auto held = PrimitiveAccess::sendcmd(*board, cmd::inp(0));
        EXPECT_FALSE(board->ready());
        EXPECT_EQ(board->readbyte(), 1);
        EXPECT_FALSE(board->ready()); // reading leaves the claim alone
        EXPECT_TRUE(PrimitiveAccess::busy(*board));
    }
    EXPECT_TRUE(board->ready()); // the claim ended with its scope
}

TEST_F(CoreTest, ErrflagIsSettableAndClearedByTheNextReceive) {
    open();
    board->errflag(true);
    EXPECT_TRUE(board->errflag());
    serial->queueReply("\x05");
    EXPECT_EQ(board->readbyte(), 5);
    EXPECT_FALSE(board->errflag());
}

TEST_F(CoreTest, AFailedFirstReadOfAWordLeavesTheSecondByte) {
    open();
    answer("\x34");
    serial->failNextReads(1);
    EXPECT_EQ(board->readword(), 52);
    EXPECT_FALSE(board->errflag());
}

TEST_F(CoreTest, ReadsNeedNoOpenPort) {
    board->errflag(false);
    EXPECT_EQ(board->readbyte(), 0); // the component refuses: a failed read, no error
    EXPECT_TRUE(board->errflag());
}

// A claim left by a command sent with hold keeps the next command out, as a low line does.
TEST_F(CoreTest, AClaimLeftByAHeldCommandEndsTheNextAtTheLinkLimit) {
    open();
    const auto held = PrimitiveAccess::sendcmd(*board, cmd::inp(0));
    serial->clearWrites();
    const auto start = Clock::now();
    EXPECT_EQ(errorOf([&] { board->high(1); }), err::LinkTimeout);
    EXPECT_GE(Clock::now() - start, fastLimits().linkWait);
    EXPECT_TRUE(serial->writes().empty());
}

TEST_F(CoreTest, CreationFailsWhenTheComponentFails) {
    EXPECT_EQ(errorOf([] { ZeltoDLL z(nullptr); }), 68);
}

class ReentryTest : public BoardTest {
  protected:
    ReentryTest() { make(&pump); }

    // Clear-to-send rises at the n-th look at the line from now on.
    void raiseCtsAfter(int n) {
        const int from = serial->ctsCalls();
        serial->onCtsPoll([this, from, n](int poll) {
            if (poll == from + n)
                serial->setCts(true);
        });
    }

    OncePump pump;
};

TEST_F(ReentryTest, AMemberCalledFromThePumpCompletesFirst) {
    open();
    serial->setCts(false);
    model->state().analog[2] = 0x0123;
    int32_t nested = -1;
    pump.once = [&] { nested = board->a2d(2); };
    raiseCtsAfter(4);
    board->high(5);
    EXPECT_EQ(hexWrites(*serial), (V{"34", "1B"}));
    EXPECT_EQ(nested, 0x0123);
    EXPECT_TRUE(board->ready());
}

TEST_F(ReentryTest, NothingPumpsWhileRepliesAreAwaited) {
    open();
    pump.pumps = 0;
    serial->setSilent(true);
    board->a2d(0); // both reply bytes time out
    EXPECT_TRUE(board->errflag());
    EXPECT_EQ(pump.pumps, 0);
}

} // namespace
} // namespace zelto::test
