#pragma once

#include "variant.h"

#include <cstdint>
#include <vector>

namespace zelto {

class ZeltoDLL;

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
