#pragma once

// The one list of the members of the automation interface. Everything that names members follows
// from it: the dispatch identifiers, the member table with its native late binding (invoke), and
// the COM object's forwarders. Each row names a member function of ZeltoDLL; its parameter and
// result types must match that function's signature exactly, or the build fails.

#include "variant.h"

#include <cstdint>

namespace zelto::automation {

// The automation types of the rows, as the board object takes and returns them.
using Integer = int16_t;
using Long = int32_t;
using Boolean = bool;
using Variant = zelto::Variant;
using None = void;

// A parameter passed by reference: the member reads it and never writes it back.
template <typename T> struct ByRef {};
using BooleanRef = ByRef<Boolean>;
using IntegerRef = ByRef<Integer>;

} // namespace zelto::automation

// Every function of the interface's table of methods, in order. A row is one of
//   GET(name, dispid, result, index parameters...)   property get
//   LET(name, parameters...)                         property let; the new value comes last
//   FUNC(name, dispid, result, parameters...)        method with a result
//   SUB(name, dispid, parameters...)                 method without a result
// and each parameter is (type, name).
#define ZELTO_MEMBERS(GET, LET, FUNC, SUB)                                                         \
    GET(CommPort, 0x68030008, Integer)                                                             \
    LET(CommPort, (Integer, New_CommPort))                                                         \
    GET(tris, 0x68030007, Variant)                                                                 \
    LET(tris, (Variant, New_tris))                                                                 \
    GET(pins, 0x68030006, Long)                                                                    \
    LET(pins, (Long, New_pins))                                                                    \
    GET(eeprom, 0x68030005, Long, (Long, add))                                                     \
    LET(eeprom, (Long, add), (Long, New_eeprom))                                                   \
    FUNC(ok, 0x60030012, Boolean)                                                                  \
    GET(led, 0x68030004, Variant)                                                                  \
    LET(led, (Variant, New_led))                                                                   \
    FUNC(a2d, 0x60030013, Long, (Long, pin))                                                       \
    SUB(toggle, 0x60030014, (Long, pin))                                                           \
    SUB(high, 0x60030015, (Long, pin))                                                             \
    SUB(low, 0x60030016, (Long, pin))                                                              \
    FUNC(inp, 0x60030017, Long, (Long, pin))                                                       \
    FUNC(count, 0x60030018, Long, (Long, pin), (Long, duration))                                   \
    SUB(pulseout, 0x60030019, (Long, pin), (Long, period))                                         \
    FUNC(pulsein, 0x6003001A, Long, (Long, pin), (Long, state))                                    \
    SUB(pwm, 0x6003001B, (Long, pin), (Long, duty), (Long, fduration))                             \
    SUB(freq, 0x6003001C, (Long, pin), (Long, tone), (Long, duration))                             \
    FUNC(rctime, 0x6003001D, Long, (Long, pin), (Long, state))                                     \
    GET(portopen, 0x68030003, Boolean)                                                             \
    LET(portopen, (Boolean, New_open))                                                             \
    GET(counter, 0x68030002, Long)                                                                 \
    LET(counter, (Long, New_counter))                                                              \
    SUB(setcounter, 0x6003001E, (Integer, prescale), (Boolean, countmode))                         \
    GET(ready, 0x68030001, Boolean)                                                                \
    LET(ready, (Boolean, New_ready))                                                               \
    GET(errflag, 0x68030000, Boolean)                                                              \
    LET(errflag, (Boolean, New_errflag))                                                           \
    SUB(resetall, 0x6003001F)                                                                      \
    SUB(repeat, 0x60030020, (Long, ct))                                                            \
    FUNC(readbyte, 0x60030021, Long)                                                               \
    FUNC(readword, 0x60030022, Long)                                                               \
    SUB(a2dconf, 0x60030023, (BooleanRef, justify), (BooleanRef, clkx2), (IntegerRef, cselect))

// ZELTO_EACH(F, (a, b), (c, d)) is F(a, b), F(c, d): the rows' parameters, one by one.
#define ZELTO_EACH(F, ...) __VA_OPT__(ZELTO_EXPAND(ZELTO_EACH_(F, __VA_ARGS__)))
#define ZELTO_EACH_(F, param, ...)                                                                 \
    F param __VA_OPT__(, ZELTO_EACH_AGAIN ZELTO_PARENS(F, __VA_ARGS__))
#define ZELTO_EACH_AGAIN() ZELTO_EACH_
#define ZELTO_PARENS ()
#define ZELTO_EXPAND(...) ZELTO_EXPAND2(ZELTO_EXPAND2(ZELTO_EXPAND2(__VA_ARGS__)))
#define ZELTO_EXPAND2(...) ZELTO_EXPAND1(ZELTO_EXPAND1(ZELTO_EXPAND1(__VA_ARGS__)))
#define ZELTO_EXPAND1(...) __VA_ARGS__
