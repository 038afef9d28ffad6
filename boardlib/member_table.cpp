#include "member_table.h"

#include "errors.h"
#include "zeltodll.h"

namespace zelto {
namespace {

using K = MemberKind;
using T = ValueType;

constexpr Param in(const char* name, ValueType type) {
    return {name, type, false};
}
constexpr Param ref(const char* name, ValueType type) {
    return {name, type, true};
}

// The interface's table of methods, in order.
const std::vector<Member> kMembers = {
    {0x68030008, "CommPort", K::PropertyGet, {}, T::Integer},
    {0x68030008, "CommPort", K::PropertyLet, {in("New_CommPort", T::Integer)}, T::None},
    {0x68030007, "tris", K::PropertyGet, {}, T::Variant},
    {0x68030007, "tris", K::PropertyLet, {in("New_tris", T::Variant)}, T::None},
    {0x68030006, "pins", K::PropertyGet, {}, T::Long},
    {0x68030006, "pins", K::PropertyLet, {in("New_pins", T::Long)}, T::None},
    {0x68030005, "eeprom", K::PropertyGet, {in("add", T::Long)}, T::Long},
    {0x68030005,
     "eeprom",
     K::PropertyLet,
     {in("add", T::Long), in("New_eeprom", T::Long)},
     T::None},
    {0x60030012, "ok", K::Method, {}, T::Boolean},
    {0x68030004, "led", K::PropertyGet, {}, T::Variant},
    {0x68030004, "led", K::PropertyLet, {in("New_led", T::Variant)}, T::None},
    {0x60030013, "a2d", K::Method, {in("pin", T::Long)}, T::Long},
    {0x60030014, "toggle", K::Method, {in("pin", T::Long)}, T::None},
    {0x60030015, "high", K::Method, {in("pin", T::Long)}, T::None},
    {0x60030016, "low", K::Method, {in("pin", T::Long)}, T::None},
    {0x60030017, "inp", K::Method, {in("pin", T::Long)}, T::Long},
    {0x60030018, "count", K::Method, {in("pin", T::Long), in("duration", T::Long)}, T::Long},
    {0x60030019, "pulseout", K::Method, {in("pin", T::Long), in("period", T::Long)}, T::None},
    {0x6003001A, "pulsein", K::Method, {in("pin", T::Long), in("state", T::Long)}, T::Long},
    {0x6003001B,
     "pwm",
     K::Method,
     {in("pin", T::Long), in("duty", T::Long), in("fduration", T::Long)},
     T::None},
    {0x6003001C,
     "freq",
     K::Method,
     {in("pin", T::Long), in("tone", T::Long), in("duration", T::Long)},
     T::None},
    {0x6003001D, "rctime", K::Method, {in("pin", T::Long), in("state", T::Long)}, T::Long},
    {0x68030003, "portopen", K::PropertyGet, {}, T::Boolean},
    {0x68030003, "portopen", K::PropertyLet, {in("New_open", T::Boolean)}, T::None},
    {0x68030002, "counter", K::PropertyGet, {}, T::Long},
    {0x68030002, "counter", K::PropertyLet, {in("New_counter", T::Long)}, T::None},
    {0x6003001E,
     "setcounter",
     K::Method,
     {in("prescale", T::Integer), in("countmode", T::Boolean)},
     T::None},
    {0x68030001, "ready", K::PropertyGet, {}, T::Boolean},
    {0x68030001, "ready", K::PropertyLet, {in("New_ready", T::Boolean)}, T::None},
    {0x68030000, "errflag", K::PropertyGet, {}, T::Boolean},
    {0x68030000, "errflag", K::PropertyLet, {in("New_errflag", T::Boolean)}, T::None},
    {0x6003001F, "resetall", K::Method, {}, T::None},
    {0x60030020, "repeat", K::Method, {in("ct", T::Long)}, T::None},
    {0x60030021, "readbyte", K::Method, {}, T::Long},
    {0x60030022, "readword", K::Method, {}, T::Long},
    {0x60030023,
     "a2dconf",
     K::Method,
     {ref("justify", T::Boolean), ref("clkx2", T::Boolean), ref("cselect", T::Integer)},
     T::None},
};

// The arguments, each coerced in order to its declared type before the member runs.
class Args {
  public:
    Args(const Member& member, const std::vector<Variant>& values) {
        for (size_t n = 0; n < values.size(); ++n)
            m_values.push_back(coerce(values[n], member.params[n].type));
    }
    int32_t l(size_t n) const { return m_values[n].integral(); }
    int16_t i(size_t n) const { return static_cast<int16_t>(m_values[n].integral()); }
    bool b(size_t n) const { return m_values[n].integral() != 0; }
    const Variant& v(size_t n) const { return m_values[n]; }

  private:
    static Variant coerce(const Variant& value, ValueType type) {
        switch (type) {
        case T::Integer:
            return Variant(value.toInteger());
        case T::Long:
            return Variant(value.toLong());
        case T::Boolean:
            return Variant(value.toBoolean());
        case T::Variant:
        case T::None:
            break;
        }
        return value;
    }

    std::vector<Variant> m_values;
};

Variant call(ZeltoDLL& z, const Member& m, const Args& a) {
    const bool get = m.kind == K::PropertyGet;
    switch (m.dispid) {
    case 0x68030008:
        if (get)
            return Variant(z.CommPort());
        z.CommPort(a.i(0));
        return {};
    case 0x68030007:
        if (get)
            return z.tris();
        z.tris(a.v(0));
        return {};
    case 0x68030006:
        if (get)
            return Variant(z.pins());
        z.pins(a.l(0));
        return {};
    case 0x68030005:
        if (get)
            return Variant(z.eeprom(a.l(0)));
        z.eeprom(a.l(0), a.l(1));
        return {};
    case 0x60030012:
        return Variant(z.ok());
    case 0x68030004:
        if (get)
            return z.led();
        z.led(a.v(0));
        return {};
    case 0x60030013:
        return Variant(z.a2d(a.l(0)));
    case 0x60030014:
        z.toggle(a.l(0));
        return {};
    case 0x60030015:
        z.high(a.l(0));
        return {};
    case 0x60030016:
        z.low(a.l(0));
        return {};
    case 0x60030017:
        return Variant(z.inp(a.l(0)));
    case 0x60030018:
        return Variant(z.count(a.l(0), a.l(1)));
    case 0x60030019:
        z.pulseout(a.l(0), a.l(1));
        return {};
    case 0x6003001A:
        return Variant(z.pulsein(a.l(0), a.l(1)));
    case 0x6003001B:
        z.pwm(a.l(0), a.l(1), a.l(2));
        return {};
    case 0x6003001C:
        z.freq(a.l(0), a.l(1), a.l(2));
        return {};
    case 0x6003001D:
        return Variant(z.rctime(a.l(0), a.l(1)));
    case 0x68030003:
        if (get)
            return Variant(z.portopen());
        z.portopen(a.b(0));
        return {};
    case 0x68030002:
        if (get)
            return Variant(z.counter());
        z.counter(a.l(0));
        return {};
    case 0x6003001E:
        z.setcounter(a.i(0), a.b(1));
        return {};
    case 0x68030001:
        if (get)
            return Variant(z.ready());
        z.ready(a.b(0));
        return {};
    case 0x68030000:
        if (get)
            return Variant(z.errflag());
        z.errflag(a.b(0));
        return {};
    case 0x6003001F:
        z.resetall();
        return {};
    case 0x60030020:
        z.repeat(a.l(0));
        return {};
    case 0x60030021:
        return Variant(z.readbyte());
    case 0x60030022:
        return Variant(z.readword());
    case 0x60030023: {
        const bool justify = a.b(0);
        const bool clkx2 = a.b(1);
        const int16_t cselect = a.i(2);
        z.a2dconf(justify, clkx2, cselect);
        return {};
    }
    }
    raise(err::NoSuchMember);
}

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

Variant invoke(ZeltoDLL& board, int32_t dispid, MemberKind kind, const std::vector<Variant>& args) {
    const Member* member = findMember(dispid, kind);
    if (!member)
        raise(err::NoSuchMember);
    if (args.size() != member->params.size())
        raise(err::WrongArgumentCount);
    return call(board, *member, Args(*member, args));
}

} // namespace zelto
