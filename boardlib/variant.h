#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>

namespace zelto {

// A value of a type the core has no counterpart for (a date, a currency amount, a byte, an array,
// an object...), carried unchanged for the side that made it, which alone knows its number.
class ForeignValue {
  public:
    virtual ~ForeignValue() = default;
    // The value as a number by its own type's rules: raises err::TypeMismatch when it has none,
    // err::Overflow when it is too large.
    virtual double number() const = 0;
    virtual bool equals(const ForeignValue& other) const = 0;
};

// A self-describing automation value with the automation conversion rules.
class Variant {
  public:
    enum class Type { Empty, Null, Boolean, Integer, Long, Double, String, Foreign };

    Variant() = default; // Empty
    Variant(bool b) : m_type(Type::Boolean), m_value(int32_t{b ? -1 : 0}) {}
    Variant(int16_t i) : m_type(Type::Integer), m_value(int32_t{i}) {}
    Variant(int32_t l) : m_type(Type::Long), m_value(l) {}
    Variant(double d) : m_type(Type::Double), m_value(d) {}
    Variant(std::string s) : m_type(Type::String), m_value(std::move(s)) {}
    Variant(const char* s) : Variant(std::string(s)) {}
    // f is not null.
    explicit Variant(std::shared_ptr<const ForeignValue> f)
        : m_type(Type::Foreign), m_value(Foreign{std::move(f)}) {}

    static Variant null() {
        Variant v;
        v.m_type = Type::Null;
        return v;
    }

    Type type() const { return m_type; }
    bool isEmpty() const { return m_type == Type::Empty; }
    bool isNull() const { return m_type == Type::Null; }

    // Whole-number conversions: non-integers round half to even, Empty is 0, Boolean -1/0, a
    // numeric string is parsed, a foreign value gives its number. Null raises 94, a non-numeric
    // string 13, a value outside the type 6.
    int32_t toLong() const;
    int16_t toInteger() const;
    // Boolean conversion: Empty is false, numbers are true when non-zero, strings "True"/"False" or
    // numeric. Null raises 94, other strings 13.
    bool toBoolean() const;
    double toDouble() const;

    // Raw access for code that translates values (the type must match).
    int32_t integral() const { return std::get<int32_t>(m_value); }
    double real() const { return std::get<double>(m_value); }
    const std::string& text() const { return std::get<std::string>(m_value); }
    const std::shared_ptr<const ForeignValue>& foreign() const {
        return std::get<Foreign>(m_value).value;
    }

    bool operator==(const Variant& other) const = default;

  private:
    struct Foreign {
        std::shared_ptr<const ForeignValue> value;
        bool operator==(const Foreign& other) const;
    };
    Type m_type = Type::Empty;
    std::variant<int32_t, double, std::string, Foreign> m_value{int32_t{0}};
};

} // namespace zelto
