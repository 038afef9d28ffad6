// A board object driven by arbitrary member calls (any dispatch identifier, kind and arguments)
// against a simulated board whose line, replies, reads, writes and opening the input bends, with
// a message pump that re-enters the object. Besides crashes, hangs and sanitizer reports, a call
// that leaves the link claimed, raises an error no part of the system has, or returns a reply
// outside its range stops the run.

#include "board_model.h"
#include "errors.h"
#include "faulty_sim_serial.h"
#include "fuzz_values.h"
#include "member_table.h"
#include "zeltodll.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>

namespace zelto {

struct PrimitiveAccess {
    static bool busy(const ZeltoDLL& z) { return z.m_busy; }
};

namespace {

[[noreturn]] void broken(const char* rule, int32_t dispid) {
    std::fprintf(stderr, "rule broken: %s (member 0x%08X)\n", rule, static_cast<unsigned>(dispid));
    std::abort();
}

const std::set<int32_t> kKnownErrors = {
    err::InvalidArgument,    err::Overflow,        err::TypeMismatch,    err::DeviceUnavailable,
    err::InvalidUseOfNull,   err::SetNotPermitted, err::GetNotSupported, err::NoSuchMember,
    err::WrongArgumentCount, err::NoSuchPort,      err::PortInUse,       err::PermissionDenied,
    err::PortNotOpen,        err::DeviceGone,      err::PortIoError,     err::InvalidPortNumber,
    err::PortAlreadyOpen,    err::LinkTimeout,
};

int32_t anError(FuzzedDataProvider& in) {
    static const int32_t kComponentErrors[] = {err::PortIoError, err::DeviceGone, err::PortNotOpen,
                                               err::NoSuchPort};
    return kComponentErrors[in.ConsumeIntegralInRange<size_t>(0, 3)];
}

// What a reply-reading member may return: the board's bytes, combined.
void checkResult(int32_t dispid, MemberKind kind, const Variant& result) {
    if (result.isEmpty())
        return;
    auto within = [&](int32_t lo, int32_t hi) {
        const int32_t n = result.integral();
        if (n < lo || n > hi)
            broken("a reply outside its range", dispid);
    };
    switch (dispid) {
    case 0x60030013: // a2d
    case 0x60030018: // count
    case 0x6003001A: // pulsein
    case 0x6003001D: // rctime
    case 0x60030022: // readword
        within(0, 65535);
        break;
    case 0x68030002: // counter
        if (kind == MemberKind::PropertyGet)
            within(0, 65535);
        break;
    case 0x60030017: // inp
        within(0, 1);
        break;
    case 0x68030005: // eeprom
    case 0x60030021: // readbyte
        within(0, 255);
        break;
    default:
        break;
    }
}

class Driver : public MessagePump {
  public:
    Driver(FuzzedDataProvider& in) : m_in(in) {
        auto serial = std::make_unique<test::FaultySimSerial>();
        m_serial = serial.get();
        // Tiny limits keep every wait short; 0 makes a wait give up at once.
        const Limits limits{Millis{m_in.ConsumeIntegralInRange(0, 2)},
                            Millis{m_in.ConsumeIntegralInRange(0, 1)},
                            Millis{m_in.ConsumeIntegralInRange(0, 2)}};
        m_board = std::make_unique<ZeltoDLL>(std::move(serial), this, limits);
    }

    void run() {
        for (int step = 0; step < 48 && m_in.remaining_bytes() > 0; ++step) {
            act();
            if (PrimitiveAccess::busy(*m_board))
                broken("the link was left claimed", m_lastDispid);
        }
    }

    // Runs from the wait for the link: sometimes the host does something there, once at a time.
    void pumpOnce() override {
        if (m_pumping || m_in.remaining_bytes() == 0 || !m_in.ConsumeBool())
            return;
        struct Depth {
            bool& flag;
            ~Depth() { flag = false; }
        } depth{m_pumping = true};
        act();
    }

  private:
    void act() {
        switch (m_in.ConsumeIntegralInRange(0, 9)) {
        case 0:
            m_serial->queueReply(m_in.ConsumeRandomLengthString(12));
            break;
        case 1:
            m_serial->setSilent(m_in.ConsumeBool());
            break;
        case 2:
            m_serial->failNextReads(m_in.ConsumeIntegralInRange(0, 3), anError(m_in));
            break;
        case 3:
            m_serial->setCts(m_in.ConsumeBool());
            break;
        case 4:
            m_serial->setWriteError(m_in.ConsumeBool() ? 0 : anError(m_in));
            break;
        case 5:
            m_serial->setOpenError(m_in.ConsumeBool() ? 0 : anError(m_in));
            break;
        default:
            callMember();
        }
    }

    void callMember() {
        const auto& table = memberTable();
        int32_t dispid = 0;
        MemberKind kind = MemberKind::Method;
        size_t count = 0;
        if (m_in.ConsumeIntegralInRange(0, 9) > 0) {
            const Member& m = table[m_in.ConsumeIntegralInRange<size_t>(0, table.size() - 1)];
            dispid = m.dispid;
            kind = m.kind;
            count = m.params.size();
        } else {
            dispid = m_in.ConsumeIntegral<int32_t>();
            kind = static_cast<MemberKind>(m_in.ConsumeIntegralInRange(0, 2));
            count = m_in.ConsumeIntegralInRange<size_t>(0, 4);
        }
        std::vector<Variant> args;
        for (size_t i = 0; i < count; ++i)
            args.push_back(fuzz::anyValue(m_in, false));
        m_lastDispid = dispid;
        try {
            checkResult(dispid, kind, invoke(*m_board, dispid, kind, args));
        } catch (const AutomationError& e) {
            if (kKnownErrors.count(e.number()) == 0)
                broken("an error no part of the system raises", dispid);
        }
    }

    FuzzedDataProvider& m_in;
    test::FaultySimSerial* m_serial = nullptr;
    std::unique_ptr<ZeltoDLL> m_board;
    bool m_pumping = false;
    int32_t m_lastDispid = 0;
};

} // namespace
} // namespace zelto

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    zelto::Driver(in).run();
    return 0;
}
