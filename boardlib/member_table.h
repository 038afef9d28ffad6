#pragma once

#include "variant.h"

#include <cstdint>
#include <vector>

namespace zelto {

class ZeltoDLL;

// The dispatch identifiers of the members: the contract with every late-bound client.
namespace dispid {
inline constexpr int32_t CommPort = 0x68030008;
inline constexpr int32_t tris = 0x68030007;
inline constexpr int32_t pins = 0x68030006;
inline constexpr int32_t eeprom = 0x68030005;
inline constexpr int32_t ok = 0x60030012;
inline constexpr int32_t led = 0x68030004;
inline constexpr int32_t a2d = 0x60030013;
inline constexpr int32_t toggle = 0x60030014;
inline constexpr int32_t high = 0x60030015;
inline constexpr int32_t low = 0x60030016;
inline constexpr int32_t inp = 0x60030017;
inline constexpr int32_t count = 0x60030018;
inline constexpr int32_t pulseout = 0x60030019;
inline constexpr int32_t pulsein = 0x6003001A;
inline constexpr int32_t pwm = 0x6003001B;
inline constexpr int32_t freq = 0x6003001C;
inline constexpr int32_t rctime = 0x6003001D;
inline constexpr int32_t portopen = 0x68030003;
inline constexpr int32_t counter = 0x68030002;
inline constexpr int32_t setcounter = 0x6003001E;
inline constexpr int32_t ready = 0x68030001;
inline constexpr int32_t errflag = 0x68030000;
inline constexpr int32_t resetall = 0x6003001F;
inline constexpr int32_t repeat = 0x60030020;
inline constexpr int32_t readbyte = 0x60030021;
inline constexpr int32_t readword = 0x60030022;
inline constexpr int32_t a2dconf = 0x60030023;
} // namespace dispid

enum class MemberKind { Method, PropertyGet, PropertyLet };
enum class ValueType { None, Integer, Long, Boolean, Variant };

struct Param {
    const char* name;
    ValueType type;
    bool byRef;
};

struct Member {
    int32_t dispid;
    const char* name;
    MemberKind kind;
    std::vector<Param> params; // a property let's new value comes last
    ValueType result;
};

// Every member of the automation interface, in the order of its table of methods.
const std::vector<Member>& memberTable();

// The row for a dispatch identifier and kind, or nullptr.
const Member* findMember(int32_t dispid, MemberKind kind);

// Calls a member by dispatch identifier. Each argument is coerced to its declared type by the
// automation rules; a member without that identifier and kind raises 438, a wrong number of
// arguments 450. Returns Empty for members without a result.
Variant invoke(ZeltoDLL& board, int32_t dispid, MemberKind kind, const std::vector<Variant>& args);

} // namespace zelto
