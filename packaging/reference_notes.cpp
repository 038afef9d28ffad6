#include "reference_notes.h"

#include "errors.h"

#include <climits>

namespace zelto::reference {

namespace {
constexpr auto M = MemberKind::Method, G = MemberKind::PropertyGet, L = MemberKind::PropertyLet;
const bool Closed = false;
const bool NotRun = false;
} // namespace

const std::vector<MemberNote>& memberNotes() {
    using namespace err;
    static const std::vector<MemberNote> notes = {
        {"CommPort", G, "The serial port number the next opening uses; 1 until set.", {}, {}},
        {"CommPort",
         L,
         "Sets the serial port number: 1 is COM1 on Windows and `/dev/ttyS0` on Linux. Allowed "
         "only while the port is closed. Sends nothing.",
         {3},
         {},
         Closed,
         {{InvalidPortNumber, "the number is outside 1 to 255", {0}, Closed},
          {InvalidPortNumber, "the number is outside 1 to 255", {256}, Closed},
          {PortAlreadyOpen, "the port is open", {2}}}},
        {"tris",
         G,
         "Reads the port's direction register (a set bit is an input). With the port open it asks "
         "the board, which answers the register in one byte, and caches the answer; with the port "
         "closed it returns the cached value as it was set, with its type.",
         {},
         "\x0F"},
        {"tris",
         L,
         "Sets the port's direction register (a set bit makes the pin an input). The value is "
         "cached as given and sent when the port is open; every opening sends it again. Bit 0 "
         "rides in the command byte, the value halved in the data byte.",
         {15},
         {},
         true,
         {{InvalidArgument, "the value is outside -257 to 255", {256}},
          {InvalidArgument, "the value is outside -257 to 255", {-258}}}},
        {"pins",
         G,
         "Reads the port's value register: the output latch on outputs, the level outside on "
         "inputs. With the port closed it returns the cached value.",
         {},
         "\x3C"},
        {"pins",
         L,
         "Sets the port's value register. Cached, sent when the port is open and again on every "
         "opening.",
         {255},
         {},
         true,
         {{InvalidArgument, "the value is outside -257 to 255", {256}}}},
        {"eeprom",
         G,
         "Reads one byte of the board's EEPROM at address `add`. The address goes out as an "
         "operand load ahead of the port check and the wait for the link; the read command "
         "follows and the board answers the byte.",
         {300},
         "\x5A",
         true,
         {{InvalidArgument, "`add` is outside -66047 to 65535", {65536}}}},
        {"eeprom",
         L,
         "Writes one byte of the board's EEPROM: the address as an operand load, then the write "
         "command with the value.",
         {300, 90},
         {},
         true,
         {{InvalidArgument, "`add` is outside -66047 to 65535", {65536, 1}},
          {InvalidArgument, "the value is outside -257 to 255", {0, 256}}}},
        {"ok",
         M,
         "Checks that the board answers: true when it answers 51 (the character \"3\").",
         {},
         "\x33"},
        {"led",
         G,
         "The LED can be switched but not read.",
         {},
         {},
         true,
         {{GetNotSupported, "always", {}}}},
        {"led",
         L,
         "Switches the board's LED: on for any true value, off for false, Empty and Null.",
         {true},
         {}},
        {"a2d",
         M,
         "Reads analog input `pin` (0 to 7; higher pins are masked). The board answers two bytes, "
         "high first; the result is first × 256 + second, 0 to 1023 from the 10-bit converter.",
         {0},
         "\x03\x09"},
        {"toggle", M, "Inverts output pin `pin` (0 to 7; masked).", {3}, {}},
        {"high", M, "Drives pin `pin` high (0 to 7; masked).", {3}, {}},
        {"low", M, "Drives pin `pin` low (0 to 7; masked).", {3}, {}},
        {"inp",
         M,
         "Reads input pin `pin`: 0 when the board answers \"0\" (0x30), 1 for any other answer, "
         "including none.",
         {3},
         "\x31"},
        {"count",
         M,
         "Counts the edges on pin `pin` during `duration` milliseconds and returns the count (two "
         "bytes, high first). Waits up to 70 s for the first byte, as long as a measurement may "
         "take.",
         {2, 1000},
         "\x01\x2C",
         true,
         {{InvalidArgument, "`duration` is outside -66047 to 65535", {2, 65536}}}},
        {"pulseout",
         M,
         "Emits one pulse on pin `pin`, `period` units long (operand load, then the command).",
         {5, 300},
         {},
         true,
         {{InvalidArgument, "`period` is outside -66047 to 65535", {7, 65536}}}},
        {"pulsein",
         M,
         "Measures the length of a pulse on pin `pin` at level `state` (bit 0 of `state` counts) "
         "and returns it (two bytes, high first). Waits up to 70 s for the first byte.",
         {1, 1},
         "\x12\x34"},
        {"pwm",
         M,
         "PWM with duty `duty` (0 to 255) for `fduration` on pin `pin`, or on the board's own PWM "
         "channel when `pin` is -1. The duration goes first as an operand load.",
         {-1, 64, 5000},
         {},
         true,
         {{InvalidArgument, "`duty` is outside -257 to 255", {0, 256, 1000}},
          {InvalidArgument, "`fduration` is outside -66047 to 65535", {0, 1, 65536}}}},
        {"freq",
         M,
         "Sounds tone `tone` on pin `pin` for `duration`: the duration as an operand load, then "
         "the extended command 0x0E with the pin and the tone in three data bytes.",
         {1, 1000, 250},
         {},
         true,
         {{InvalidArgument, "`tone` is outside -33023 to 32767", {0, 32768, 100}},
          {InvalidArgument, "`duration` is outside -66047 to 65535", {0, 1, 65536}}}},
        {"rctime",
         M,
         "Measures the charge time of an RC circuit on pin `pin`, waiting for level `state`: the "
         "extended command 0x0E, then a kind byte of 0xA0 + 2 × pin + `state` (`state` added "
         "unmasked), then two reply bytes, high first. Waits up to 70 s for the first byte.",
         {3, 1},
         "\x03\x09",
         true,
         {{InvalidArgument, "0xA0 + 2 × pin + `state` is above 255, after 0x0E went out", {0, 96}},
          {Overflow, "that sum is beyond a Long", {0, INT32_MAX - 159}}}},
        {"portopen", G, "Whether the port is open.", {}, {}},
        {"portopen",
         L,
         "Opens or closes the port. Opening sets the line (57600 baud, 8N1, RTS/CTS flow control, "
         "DTR and RTS on), runs the handshake (0x00 and 0x01; up to ten answer bytes are read "
         "until one is 51, and a silent board is no error), then sends the cached `pins` and "
         "`tris`. Closing a closed port does nothing. A cached value that cannot be sent fails the "
         "opening with its error after the handshake, with the port left open.",
         {true},
         "\x33",
         Closed,
         {{PortAlreadyOpen, "the port is already open", {true}},
          {NoSuchPort, "the device does not exist or is not a serial port", {}, Closed, NotRun},
          {PortInUse, "another program (or board object) has the port open", {}, Closed, NotRun},
          {PermissionDenied, "no read and write access to the device", {}, Closed, NotRun},
          {PortIoError, "any other failure of the system while opening", {}, Closed, NotRun}}},
        {"counter",
         G,
         "Reads the board's hardware counter (two bytes, high first). Waits up to 70 s for the "
         "first byte.",
         {},
         "\xFF\xFF"},
        {"counter",
         L,
         "The counter is set up with `setcounter`, never set.",
         {5},
         {},
         true,
         {{SetNotPermitted, "always", {5}}}},
        {"setcounter",
         M,
         "Sets up the hardware counter: `prescale` 2, 4 or 8 (anything else is 1) and the count "
         "mode, as the extended command 0x0E and one kind byte.",
         {8, true},
         {}},
        {"ready",
         G,
         "Whether the board can take a command now: clear-to-send asserted and no command of this "
         "object waiting for its answer.",
         {},
         {}},
        {"ready", L, "Read-only.", {true}, {}, true, {{SetNotPermitted, "always", {true}}}},
        {"errflag",
         G,
         "Whether the last read of a reply byte failed (no byte within its limit, or the system "
         "failed the read). Every read sets or clears it.",
         {},
         {}},
        {"errflag", L, "Sets or clears the flag; sends nothing.", {false}, {}},
        {"resetall",
         M,
         "Resets the board's counter and registers to their power-up state.",
         {},
         {}},
        {"repeat",
         M,
         "Makes the board repeat the next command `ct` times (the operand is `ct` - 1).",
         {10},
         {},
         true,
         {{InvalidArgument, "`ct` - 1 is outside -66047 to 65535", {65537}},
          {Overflow,
           "`ct` is the most negative Long, so `ct` - 1 cannot be computed",
           {INT32_MIN}}}},
        {"readbyte",
         M,
         "Reads one byte the board sent, without sending anything: for bytes beyond a member's "
         "reply. 0 with `errflag` set when none comes.",
         {},
         "\xC8"},
        {"readword",
         M,
         "Reads two bytes the board sent, high first, without sending anything.",
         {},
         "\x12\x34"},
        {"a2dconf",
         M,
         "Configures the converter: `justify` (right-justified result), `clkx2` (double clock) and "
         "the channel selection `cselect` (0 to 127), in one data byte. The by-reference "
         "arguments are only read.",
         {true, false, int16_t{3}},
         {},
         true,
         {{Overflow, "`cselect` is outside 0 to 127", {false, false, int16_t{128}}},
          {Overflow, "`cselect` is outside 0 to 127", {false, false, int16_t{-1}}}}},
    };
    return notes;
}

const std::vector<ErrorNote>& errorNotes() {
    static const std::vector<ErrorNote> notes = {
        {5, "board object, serial component",
         "a value does not fit its byte or operand; a line setting the serial component does not "
         "take",
         "Pass a value in the member's range (its section in members.md gives it).", nullptr},
        {6, "board object", "a value is beyond its type, or beyond what the member can compute",
         "Pass a smaller value.", nullptr},
        {7, "C interface, Python package",
         "the library ran out of memory inside a call of the C interface",
         "Free memory and call again.", "any, through the C interface or the Python package"},
        {13, "board object", "a text that is not a number or a truth value",
         "Pass a number (texts such as \"12\" and \"&H10\" are read as numbers).", nullptr},
        {18, "board object",
         "`interrupt()` (C: `oz_board_interrupt`; Ctrl-C in Python and in `zelto watch`) ended the "
         "member that ran or waited for its turn; the next member drops the bytes that arrived "
         "meanwhile",
         "Nothing: the board object works on; call again when wanted.",
         "any that runs or waits for its turn while the board is interrupted"},
        {51, "C interface, Python package",
         "a failure that is no automation error reached the C interface (a fault of the library)",
         "Report it with the call that caused it.",
         "any, through the C interface or the Python package"},
        {68, "board object", "a board command while the port is closed",
         "Set `portopen` to true first.", nullptr},
        {94, "board object", "Null where a number is needed", "Pass a number, or Empty for 0.",
         nullptr},
        {387, "board object", "setting a read-only property", "Do not set it.", nullptr},
        {393, "board object", "reading a property that can only be set",
         "Keep the value you set yourself.", nullptr},
        {438, "board object (late binding), zelto",
         "a call by a name or dispatch identifier the board object does not have, or of a kind it "
         "does not have (setting a method)",
         "Check the name against members.md.",
         "any, called late-bound (automation, C interface, Python, `zelto call`)"},
        {449, "Warmscope",
         "the automation server reported a missing argument to Warmscope's late-bound client",
         "Pass every argument: the board object has no optional ones.",
         "the nine members Warmscope calls"},
        {450, "board object (late binding), zelto",
         "a call with more or fewer arguments than the member takes",
         "Pass exactly the member's parameters.",
         "any, called late-bound (automation, C interface, Python, `zelto call`)"},
        {8101, "serial component",
         "the device does not exist (also a directory or a path too long), is not a terminal, is "
         "`/dev/ptmx`, has no hardware behind it, or under Windows is a port mapped to nothing",
         "Check the port number or device path; `zelto ports` lists the serial ports.", nullptr},
        {8102, "serial component", "another opener, in this or another program, holds the port",
         "Close the other program or board object, or use another port.", nullptr},
        {8103, "serial component", "no read and write access to the device",
         "Join the group that owns the device (usually `dialout`) and log in again; `zelto ports` "
         "says what to do.",
         nullptr},
        {8104, "serial component",
         "the line, a write or a read while the port is closed, or a board object destroyed under "
         "a waiting member",
         "Open the port first.", nullptr},
        {8105, "serial component",
         "the device went away while open (adapter unplugged, the simulator ended); every write "
         "and look at the line fails with it until the port is closed",
         "Close the port, reconnect the device, open it again.", nullptr},
        {8106, "serial component", "any other failure of the system on the port",
         "Close and open the port again; check the device.", nullptr},
        {8107, "serial component", "a port number outside 1 to 255",
         "Use a number from 1 to 255, or a device path.", nullptr},
        {8108, "serial component",
         "opening an open port, or changing its number or device path while it is open",
         "Close the port first.", nullptr},
        {8120, "board object, serial component",
         "the board held clear-to-send low, or the link stayed claimed, for longer than the link "
         "wait (5 s); a write held back by flow control for more than 5 s; another thread's member "
         "held the board for longer than 5 s",
         "Check that the board is powered and connected and its flow-control lines are wired; "
         "call again.",
         nullptr},
    };
    return notes;
}

} // namespace zelto::reference
