#pragma once

#include "../core/board_fixture.h"

namespace zelto::faults {

using K = MemberKind;
using test::errorOf;
using test::nameOf;
using namespace std::chrono_literals;

// A component that passes every operation to another one and fails the ones it is told to, the
// way a device that vanishes or a driver that refuses fails them.
class FaultySerial : public SerialComponent {
  public:
    explicit FaultySerial(std::unique_ptr<SerialComponent> inner) : m_inner(std::move(inner)) {}

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

    int16_t commPort() const override { return m_inner->commPort(); }
    void setCommPort(int16_t port) override { m_inner->setCommPort(port); }
    bool portOpen() const override { return m_inner->portOpen(); }
    void setPortOpen(bool open) override { m_inner->setPortOpen(open); }
    bool ctsHolding(Millis maxWait) override {
        if (m_ctsCountdown > 0 && --m_ctsCountdown == 0) {
            m_ctsCountdown = 1; // stays failed
            raise(m_ctsError);
        }
        return m_inner->ctsHolding(maxWait);
    }
    void setOutput(const Bytes& bytes) override {
        if (m_writeCountdown > 0 && --m_writeCountdown == 0)
            raise(m_writeError);
        m_inner->setOutput(bytes);
        if (afterWrite)
            afterWrite(++m_written);
    }
    Bytes input(Millis maxWait) override { return m_inner->input(maxWait); }
    void setDTREnable(bool enable) override { m_inner->setDTREnable(enable); }
    void setHandshaking(int16_t mode) override { m_inner->setHandshaking(mode); }
    void setInputLen(int16_t length) override { m_inner->setInputLen(length); }
    void setRTSEnable(bool enable) override { m_inner->setRTSEnable(enable); }
    void setSettings(const std::string& settings) override { m_inner->setSettings(settings); }
    void setSThreshold(int16_t threshold) override { m_inner->setSThreshold(threshold); }

  private:
    std::unique_ptr<SerialComponent> m_inner;
    int m_writeCountdown = 0;
    int32_t m_writeError = 0;
    int m_ctsCountdown = 0;
    int32_t m_ctsError = 0;
    int m_written = 0;
};

// One call of a member through its dispatch identifier.
struct Call {
    const char* name;
    int32_t dispid;
    K kind;
    std::vector<Variant> args;
    int writes;         // how many writes it makes when all goes well
    Variant failedRead; // its result when every read fails; Empty for members that read nothing
};

inline void PrintTo(const Call& c, std::ostream* os) {
    *os << c.name;
}

// Every member that talks to the board, with ordinary arguments.
inline const std::vector<Call>& sendingMembers() {
    static const std::vector<Call> calls = {
        {"ok", 0x60030012, K::Method, {}, 1, Variant(false)},
        {"resetall", 0x6003001F, K::Method, {}, 1, Variant()},
        {"tris get", 0x68030007, K::PropertyGet, {}, 1, Variant(int16_t{0})},
        {"tris let", 0x68030007, K::PropertyLet, {5}, 1, Variant()},
        {"pins get", 0x68030006, K::PropertyGet, {}, 1, Variant(0)},
        {"pins let", 0x68030006, K::PropertyLet, {5}, 1, Variant()},
        {"eeprom get", 0x68030005, K::PropertyGet, {300}, 2, Variant(0)},
        {"eeprom let", 0x68030005, K::PropertyLet, {300, 90}, 2, Variant()},
        {"led let", 0x68030004, K::PropertyLet, {true}, 1, Variant()},
        {"a2d", 0x60030013, K::Method, {2}, 1, Variant(0)},
        {"toggle", 0x60030014, K::Method, {2}, 1, Variant()},
        {"high", 0x60030015, K::Method, {2}, 1, Variant()},
        {"low", 0x60030016, K::Method, {2}, 1, Variant()},
        {"inp", 0x60030017, K::Method, {2}, 1, Variant(1)},
        {"count", 0x60030018, K::Method, {2, 100}, 2, Variant(0)},
        {"pulseout", 0x60030019, K::Method, {2, 100}, 2, Variant()},
        {"pulsein", 0x6003001A, K::Method, {2, 1}, 1, Variant(0)},
        {"pwm", 0x6003001B, K::Method, {2, 100, 1000}, 2, Variant()},
        {"freq", 0x6003001C, K::Method, {2, 1000, 250}, 2, Variant()},
        {"rctime", 0x6003001D, K::Method, {2, 1}, 2, Variant(0)},
        {"counter get", 0x68030002, K::PropertyGet, {}, 1, Variant(0)},
        {"setcounter", 0x6003001E, K::Method, {4, true}, 1, Variant()},
        {"repeat", 0x60030020, K::Method, {10}, 2, Variant()},
        {"a2dconf", 0x60030023, K::Method, {true, false, 3}, 1, Variant()},
    };
    return calls;
}

// Limits short enough that every wait in these tests ends quickly.
inline Limits shortLimits() {
    return Limits{Millis{50}, Millis{20}, Millis{40}};
}

// A board object on a simulated board, with a fault injector between them.
struct SimBoard {
    explicit SimBoard(MessagePump* pump = nullptr, Limits limits = shortLimits()) {
        auto sim = std::make_unique<sim::SimSerial>(model);
        serial = sim.get();
        auto faulty = std::make_unique<FaultySerial>(std::move(sim));
        faults = faulty.get();
        board = std::make_unique<ZeltoDLL>(std::move(faulty), pump, limits);
    }

    void open() {
        board->portopen(true);
        serial->clearWrites();
    }
    Variant call(const Call& c) { return invoke(*board, c.dispid, c.kind, c.args); }
    bool linkFree() const { return !PrimitiveAccess::busy(*board); }
    std::string written() const { return sim::hex(serial->written()); }

    std::shared_ptr<sim::BoardModel> model = std::make_shared<sim::BoardModel>();
    sim::SimSerial* serial = nullptr;
    FaultySerial* faults = nullptr;
    std::unique_ptr<ZeltoDLL> board;
};

} // namespace zelto::faults
