#pragma once

#include "command_bytes.h"
#include "encoding.h"
#include "errors.h"
#include "serial_component.h"
#include "variant.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace zelto {

// How long the board object waits before it gives up. A wait sleeps in the operating system and
// wakes within about a millisecond of the byte or the line change it waits for.
struct Limits {
    Millis linkWait{5000};     // clear-to-send low or the link claimed: error LinkTimeout
    Millis reply{250};         // each reply byte of an ordinary command: a failed read
    Millis measurement{70000}; // first reply byte of count, pulsein, rctime and counter
};

// The line the board speaks, set on a component in the order the board object sets it: DTR and
// RTS asserted, RTS/CTS flow control, 57600 baud 8N1, one byte per read.
void setUpBoardLine(SerialComponent& comm);

// The board object: each member is one short transaction with the board over the serial link.
// It may be used from any number of threads: its members run one at a time (see takeTurn).
class ZeltoDLL {
  public:
    // Uses the system's serial component (see makeSystemSerialComponent); a program that uses it
    // links the platform library.
    ZeltoDLL();
    // Takes ownership of the component and configures its line; sends nothing. The pump, when
    // given, is run once per pass of the wait for the link.
    explicit ZeltoDLL(std::unique_ptr<SerialComponent> comm, MessagePump* pump = nullptr,
                      Limits limits = {});
    // Frees the board object once no member runs: a member that another thread runs now ends as
    // on a closed port, within 50 ms. No call may start once it has begun.
    ~ZeltoDLL();
    ZeltoDLL(const ZeltoDLL&) = delete;
    ZeltoDLL& operator=(const ZeltoDLL&) = delete;

    // Ends the member that runs or waits for its turn now: its wait ends within 50 ms and it fails
    // with err::Interrupted (an opening leaves the port open, as any failed opening does). A member
    // that starts later is not affected, but the next one that sends or reads first drops the
    // bytes that have arrived by then, so that a late reply to the ended member is not read as its
    // own. Safe from any thread and from a signal handler.
    void interrupt() noexcept;

    // Port and state
    int16_t CommPort() const;
    void CommPort(int16_t New_CommPort);
    bool portopen() const;
    void portopen(bool New_open);
    bool ready();
    void ready(bool New_ready);
    bool errflag() const;
    void errflag(bool New_errflag);
    Variant tris();
    void tris(const Variant& New_tris);
    int32_t pins();
    void pins(int32_t New_pins);

    // Link
    bool ok();
    void resetall();
    int32_t readbyte();
    int32_t readword();

    // Pins and LED
    void high(int32_t pin);
    void low(int32_t pin);
    void toggle(int32_t pin);
    int32_t inp(int32_t pin);
    Variant led();
    void led(const Variant& New_led);

    // EEPROM and repeat
    int32_t eeprom(int32_t add);
    void eeprom(int32_t add, int32_t New_eeprom);
    void repeat(int32_t ct);

    // Pulse, timing and counter
    int32_t count(int32_t pin, int32_t duration);
    void pulseout(int32_t pin, int32_t period);
    int32_t pulsein(int32_t pin, int32_t state);
    int32_t rctime(int32_t pin, int32_t state);
    int32_t counter();
    void counter(int32_t New_counter);
    void setcounter(int16_t prescale, bool countmode);

    // Analog, PWM and tone
    int32_t a2d(int32_t pin);
    void a2dconf(const bool& justify, const bool& clkx2, const int16_t& cselect);
    void pwm(int32_t pin, int32_t duty, int32_t fduration);
    void freq(int32_t pin, int32_t tone, int32_t duration);

    const Limits& limits() const { return m_limits; }

  private:
    friend struct PrimitiveAccess; // lets tests drive the primitives directly

    // The link claimed by one command: claimed once the port is open and the link free, released
    // when the claim goes out of scope, on success and on failure alike. A member that expects a
    // reply keeps the claim until it has read it; a member that does not lets it go at once.
    class Claim {
      public:
        explicit Claim(bool& busy) : m_busy(&busy) { busy = true; }
        Claim(Claim&& other) noexcept : m_busy(std::exchange(other.m_busy, nullptr)) {}
        Claim(const Claim&) = delete;
        Claim& operator=(const Claim&) = delete;
        Claim& operator=(Claim&&) = delete;
        ~Claim() {
            if (m_busy)
                *m_busy = false;
        }

      private:
        bool* m_busy;
    };

    // The send primitives: each checks the port, waits for the link, claims it and writes; the
    // returned claim holds the link until it is dropped.
    Claim sendcmd(cmd::Command command);
    Claim sendcmddata(cmd::Command command, const Bytes& data);
    Claim sendvaluecmd(int32_t value, cmd::Command command, const Bytes& data);
    // Write without a check or a claim: the command byte and its data in one write, and the
    // operand load of a 16-bit value.
    void putcmd(cmd::Command command, const Bytes& data);
    void loadvalue(int32_t value);
    int16_t getbyte() { return getbyte(m_limits.reply); }
    int16_t getbyte(Millis limit);
    // The two reply bytes of a measurement, most significant first.
    int32_t replyWord(Millis firstByteLimit);

    // Members of one board run one at a time: each holds the board's turn while it runs. The thread
    // that holds it may take it again (a member re-entered from the message pump); another thread
    // waits for it as for the link, up to the link limit, and then fails with LinkTimeout.
    class Turns {
      public:
        // How many turns this thread now holds (more than one when re-entered); 0 when another
        // thread held the turn for all of limit.
        int take(Millis limit);
        void give();

      private:
        std::mutex m_mutex;
        std::condition_variable m_free;
        std::thread::id m_holder;
        int m_depth = 0;
    };
    class Turn {
      public:
        explicit Turn(Turns& turns) : m_turns(&turns) {}
        Turn(Turn&& other) noexcept : m_turns(std::exchange(other.m_turns, nullptr)) {}
        Turn(const Turn&) = delete;
        Turn& operator=(const Turn&) = delete;
        Turn& operator=(Turn&&) = delete;
        ~Turn() {
            if (m_turns)
                m_turns->give();
        }

      private:
        Turns* m_turns;
    };
    Turn takeTurn() const;
    // True once interrupt() was called after the running member began.
    bool interrupted() const { return m_interrupts.load() != m_callInterrupts; }
    // After an interrupt, the next member that sends or reads first drops what has arrived.
    void dropStaleInput();

    Claim claim();
    void checkOpen() const;
    void waitForLink();

    std::unique_ptr<SerialComponent> m_comm;
    MessagePump* m_pump = nullptr;
    Limits m_limits;
    bool m_busy = false;
    bool m_errflag = false;
    Variant m_tris;
    int32_t m_pins = 0;
    mutable Turns m_turns;
    // Set when the board object is being destroyed: waits end at their next slice.
    std::atomic<bool> m_ending{false};
    // Calls of interrupt(), and their count when the running member began; both change only
    // through atomic steps, so that a signal handler may interrupt.
    std::atomic<uint32_t> m_interrupts{0};
    mutable uint32_t m_callInterrupts = 0;
    std::atomic<bool> m_staleInput{false};
    static_assert(std::atomic<uint32_t>::is_always_lock_free &&
                  std::atomic<bool>::is_always_lock_free);
};

} // namespace zelto
