#pragma once

#include "member_list.h"
#include "variant.h"

#include <concepts>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace zelto {

class ZeltoDLL;

// The dispatch identifiers of the members: the contract with every late-bound client.
namespace dispid {
#define ZELTO_DISPID(name, id, ...) inline constexpr int32_t name = id;
#define ZELTO_NO_DISPID(...)
ZELTO_MEMBERS(ZELTO_DISPID, ZELTO_NO_DISPID, ZELTO_DISPID, ZELTO_DISPID)
#undef ZELTO_DISPID
#undef ZELTO_NO_DISPID
} // namespace dispid

enum class MemberKind { Method, PropertyGet, PropertyLet };
enum class ValueType { None, Integer, Long, Boolean, Variant };

// The automation name of a type ("Integer", "Long", ...); empty for None.
const char* typeName(ValueType type);

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
    // Calls the board object's member with arguments already coerced to the parameters' types.
    Variant (*run)(ZeltoDLL& board, const std::vector<Variant>& args);
};

// An argument already coerced to its row's type that converts to exactly that type and no other, so
// that a row whose types differ from its member function's signature does not compile.
template <typename T> class Exactly {
  public:
    explicit Exactly(T value) : m_value(std::move(value)) {}
    template <typename U>
    requires std::same_as<U, T>
    operator U() const { return m_value; }

  private:
    T m_value;
};

// Every member of the automation interface, in the order of its table of methods.
const std::vector<Member>& memberTable();

// The row for a dispatch identifier and kind, or nullptr.
const Member* findMember(int32_t dispid, MemberKind kind);
// The first row with that name, matched without regard to case as script hosts match names, and
// of that kind when one is given; nullptr when there is none.
const Member* findMember(std::string_view name, std::optional<MemberKind> kind = {});

// Calls a member by dispatch identifier. Each argument is coerced to its declared type by the
// automation rules; a member without that identifier and kind raises 438, a wrong number of
// arguments 450. Returns Empty for members without a result.
Variant invoke(ZeltoDLL& board, int32_t dispid, MemberKind kind, const std::vector<Variant>& args);

} // namespace zelto
