#include "member_table.h"

#include "errors.h"
#include "zeltodll.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <tuple>
#include <type_traits>

namespace zelto {
namespace {

using namespace automation;

template <typename T> struct RowType {
    using Value = T;
    static constexpr bool byRef = false;
};
template <typename T> struct RowType<ByRef<T>> {
    using Value = T;
    static constexpr bool byRef = true;
};

template <typename T> constexpr ValueType valueTypeOf() {
    using V = typename RowType<T>::Value;
    if constexpr (std::is_void_v<V>)
        return ValueType::None;
    else if constexpr (std::is_same_v<V, Integer>)
        return ValueType::Integer;
    else if constexpr (std::is_same_v<V, Long>)
        return ValueType::Long;
    else if constexpr (std::is_same_v<V, Boolean>)
        return ValueType::Boolean;
    else {
        static_assert(std::is_same_v<V, Variant>);
        return ValueType::Variant;
    }
}

// An argument coerced to its row's type, after the automation rules.
template <typename T> Exactly<T> coerced(const Variant& value) {
    if constexpr (std::is_same_v<T, Integer>)
        return Exactly<T>(value.toInteger());
    else if constexpr (std::is_same_v<T, Long>)
        return Exactly<T>(value.toLong());
    else if constexpr (std::is_same_v<T, Boolean>)
        return Exactly<T>(value.toBoolean());
    else
        return Exactly<T>(value);
}

// Coerces the arguments in order (the first that fails stops the call), calls the member and
// wraps its result; the member's result type must be the row's.
template <typename Result, typename... Params, typename Call>
Variant run(const std::vector<Variant>& args, Call&& call) {
    auto values = [&]<size_t... I>(std::index_sequence<I...>) {
        return std::tuple<Exactly<typename RowType<Params>::Value>...>{
            coerced<typename RowType<Params>::Value>(args[I])...};
    }
    (std::index_sequence_for<Params...>{});
    using Returned = decltype(std::apply(call, values));
    static_assert(std::is_same_v<std::remove_cvref_t<Returned>, Result>,
                  "the row's result type differs from the member function's");
    if constexpr (std::is_void_v<Result>) {
        std::apply(call, values);
        return {};
    } else {
        return Variant(std::apply(call, values));
    }
}

#define ZELTO_PARAM(type, name)                                                                    \
    Param {                                                                                        \
#name, valueTypeOf < type>(), RowType < type> ::byRef                                      \
    }
#define ZELTO_TYPE(type, name) type
#define ZELTO_ROW(kind, name, id, result, ...)                                                     \
    {id,                                                                                           \
     #name,                                                                                        \
     kind,                                                                                         \
     {ZELTO_EACH(ZELTO_PARAM, __VA_ARGS__)},                                                       \
     valueTypeOf<result>(),                                                                        \
     [](ZeltoDLL& z, const std::vector<Variant>& args) {                                           \
         return run<result __VA_OPT__(, ZELTO_EACH(ZELTO_TYPE, __VA_ARGS__))>(                     \
             args, [&](auto... a) -> decltype(auto) { return z.name(a...); });                     \
     }},
#define ZELTO_GET(name, id, result, ...)                                                           \
    ZELTO_ROW(MemberKind::PropertyGet, name, id, result, __VA_ARGS__)
#define ZELTO_LET(name, ...)                                                                       \
    ZELTO_ROW(MemberKind::PropertyLet, name, dispid::name, None, __VA_ARGS__)
#define ZELTO_FUNC(name, id, result, ...)                                                          \
    ZELTO_ROW(MemberKind::Method, name, id, result, __VA_ARGS__)
#define ZELTO_SUB(name, id, ...) ZELTO_ROW(MemberKind::Method, name, id, None, __VA_ARGS__)

const std::vector<Member> kMembers = {ZELTO_MEMBERS(ZELTO_GET, ZELTO_LET, ZELTO_FUNC, ZELTO_SUB)};

} // namespace

const std::vector<Member>& memberTable() {
    return kMembers;
}

const Member* findMember(int32_t dispid, MemberKind kind) {
    for (const Member& m : kMembers) {
        if (m.dispid == dispid && m.kind == kind)
            return &m;
    }
    return nullptr;
}

const Member* findMember(std::string_view name, std::optional<MemberKind> kind) {
    auto lower = [](char c) { return std::tolower(static_cast<unsigned char>(c)); };
    for (const Member& m : kMembers) {
        if (std::equal(name.begin(), name.end(), m.name, m.name + std::strlen(m.name),
                       [&](char a, char b) { return lower(a) == lower(b); }) &&
            (!kind || m.kind == *kind))
            return &m;
    }
    return nullptr;
}

Variant invoke(ZeltoDLL& board, int32_t dispid, MemberKind kind, const std::vector<Variant>& args) {
    const Member* member = findMember(dispid, kind);
    if (!member)
        raise(err::NoSuchMember);
    if (args.size() != member->params.size())
        raise(err::WrongArgumentCount);
    return member->run(board, args);
}

const char* typeName(ValueType type) {
    switch (type) {
    case ValueType::Integer:
        return "Integer";
    case ValueType::Long:
        return "Long";
    case ValueType::Boolean:
        return "Boolean";
    case ValueType::Variant:
        return "Variant";
    case ValueType::None:
        break;
    }
    return "";
}

} // namespace zelto
