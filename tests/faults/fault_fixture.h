#pragma once

#include "board_fixture.h"
#include "wire_table.h"

#include <algorithm>

namespace zelto::faults {

using K = MemberKind;
using test::errorOf;
using test::rowName;
using test::WireRow;
using namespace std::chrono_literals;

// The simulated board's component, failing the operations it is told to fail, the way a device
// that vanishes or a driver that refuses fails them.
class FaultySerial : public test::FaultySimSerial {
  public:
    using FaultySimSerial::FaultySimSerial;

    // The n-th write from now on (1 for the next) fails with error; 0 for none.
    void failWrite(int n, int32_t error) {
        m_writeCountdown = n;
        m_writeError = error;
    }
    // From the n-th look at the line on, every look fails with error; 0 for none.
    void failCts(int n, int32_t error) {
        m_ctsCountdown = n;
        m_ctsError = error;
    }
    // Runs after every write that went through, with its number (1, 2, ...).
    std::function<void(int)> afterWrite;

    bool ctsHolding(Millis maxWait) override {
        if (m_ctsCountdown > 0 && --m_ctsCountdown == 0) {
            m_ctsCountdown = 1; // stays failed
            raise(m_ctsError);
        }
        return FaultySimSerial::ctsHolding(maxWait);
    }
    void setOutput(const Bytes& bytes) override {
        if (m_writeCountdown > 0 && --m_writeCountdown == 0)
            raise(m_writeError);
        FaultySimSerial::setOutput(bytes);
        if (afterWrite)
            afterWrite(++m_written);
    }

  private:
    int m_writeCountdown = 0;
    int32_t m_writeError = 0;
    int m_ctsCountdown = 0;
    int32_t m_ctsError = 0;
    int m_written = 0;
};

// One call of every member and kind that talks to the board: its first row in the wire table
// that goes through.
inline const std::vector<test::WireRow>& sendingMembers() {
    static const std::vector<test::WireRow> rows = [] {
        std::vector<test::WireRow> out;
        for (const test::WireRow& r : test::wireTable()) {
            const bool seen = std::any_of(out.begin(), out.end(), [&](const test::WireRow& o) {
                return o.dispid == r.dispid && o.kind == r.kind;
            });
            if (!seen && !r.writes.empty() && r.error == 0 && r.modelled)
                out.push_back(r);
        }
        return out;
    }();
    return rows;
}

// Limits short enough that every wait in these tests ends quickly.
inline Limits shortLimits() {
    return Limits{Millis{50}, Millis{20}, Millis{40}};
}

// A board object on a simulated board, with a fault injector between them.
struct SimBoard {
    explicit SimBoard(MessagePump* pump = nullptr, Limits limits = shortLimits()) {
        auto faulty = std::make_unique<FaultySerial>(model);
        serial = faults = faulty.get();
        board = std::make_unique<ZeltoDLL>(std::move(faulty), pump, limits);
    }

    void open() {
        board->portopen(true);
        serial->clearWrites();
    }
    Variant call(const WireRow& r) { return invoke(*board, r.dispid, r.kind, r.args); }
    bool linkFree() const { return !PrimitiveAccess::busy(*board); }
    std::string written() const { return sim::hex(serial->written()); }

    std::shared_ptr<sim::BoardModel> model = std::make_shared<sim::BoardModel>();
    test::FaultySimSerial* serial = nullptr;
    FaultySerial* faults = nullptr;
    std::unique_ptr<ZeltoDLL> board;
};

} // namespace zelto::faults
