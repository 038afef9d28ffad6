#pragma once

#include "commands.h"
#include "encoding.h"
#include "errors.h"
#include "serial_component.h"
#include "variant.h"

#include <cstdint>
#include <memory>
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
class ZeltoDLL {
  public:
    // Uses the system's serial component (see makeSystemSerialComponent).
    ZeltoDLL();
    // Takes ownership of the component and configures its line; sends nothing. The pump, when
    // given, is run once per pass of the wait for the link.
    explicit ZeltoDLL(std::unique_ptr<SerialComponent> comm, MessagePump* pump = nullptr,
                      Limits limits = {});
    ~ZeltoDLL() = default;
    ZeltoDLL(const ZeltoDLL&) = delete;
    ZeltoDLL& operator=(const ZeltoDLL&) = delete;

    // Port and state
    int16_t CommPort() const;
    void CommPort(int16_t New_CommPort);
    bool portopen() const;
    void portopen(bool New_open);
    bool ready();
    void ready(bool New_ready);
    bool errflag() const { return m_errflag; }
    void errflag(bool New_errflag) { m_errflag = New_errflag; }
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
};

} // namespace zelto
