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
    {dispid::CommPort, "CommPort", K::PropertyGet, {}, T::Integer},
    {dispid::CommPort, "CommPort", K::PropertyLet, {in("New_CommPort", T::Integer)}, T::None},
    {dispid::tris, "tris", K::PropertyGet, {}, T::Variant},
    {dispid::tris, "tris", K::PropertyLet, {in("New_tris", T::Variant)}, T::None},
    {dispid::pins, "pins", K::PropertyGet, {}, T::Long},
    {dispid::pins, "pins", K::PropertyLet, {in("New_pins", T::Long)}, T::None},
    {dispid::eeprom, "eeprom", K::PropertyGet, {in("add", T::Long)}, T::Long},
    {dispid::eeprom,
     "eeprom",
     K::PropertyLet,
     {in("add", T::Long), in("New_eeprom", T::Long)},
     T::None},
    {dispid::ok, "ok", K::Method, {}, T::Boolean},
    {dispid::led, "led", K::PropertyGet, {}, T::Variant},
    {dispid::led, "led", K::PropertyLet, {in("New_led", T::Variant)}, T::None},
    {dispid::a2d, "a2d", K::Method, {in("pin", T::Long)}, T::Long},
    {dispid::toggle, "toggle", K::Method, {in("pin", T::Long)}, T::None},
    {dispid::high, "high", K::Method, {in("pin", T::Long)}, T::None},
    {dispid::low, "low", K::Method, {in("pin", T::Long)}, T::None},
    {dispid::inp, "inp", K::Method, {in("pin", T::Long)}, T::Long},
    {dispid::count, "count", K::Method, {in("pin", T::Long), in("duration", T::Long)}, T::Long},
    {dispid::pulseout, "pulseout", K::Method, {in("pin", T::Long), in("period", T::Long)}, T::None},
    {dispid::pulsein, "pulsein", K::Method, {in("pin", T::Long), in("state", T::Long)}, T::Long},
    {dispid::pwm,
     "pwm",
     K::Method,
     {in("pin", T::Long), in("duty", T::Long), in("fduration", T::Long)},
     T::None},
    {dispid::freq,
     "freq",
     K::Method,
     {in("pin", T::Long), in("tone", T::Long), in("duration", T::Long)},
     T::None},
    {dispid::rctime, "rctime", K::Method, {in("pin", T::Long), in("state", T::Long)}, T::Long},
    {dispid::portopen, "portopen", K::PropertyGet, {}, T::Boolean},
    {dispid::portopen, "portopen", K::PropertyLet, {in("New_open", T::Boolean)}, T::None},
    {dispid::counter, "counter", K::PropertyGet, {}, T::Long},
    {dispid::counter, "counter", K::PropertyLet, {in("New_counter", T::Long)}, T::None},
    {dispid::setcounter,
     "setcounter",
     K::Method,
     {in("prescale", T::Integer), in("countmode", T::Boolean)},
     T::None},
    {dispid::ready, "ready", K::PropertyGet, {}, T::Boolean},
    {dispid::ready, "ready", K::PropertyLet, {in("New_ready", T::Boolean)}, T::None},
    {dispid::errflag, "errflag", K::PropertyGet, {}, T::Boolean},
    {dispid::errflag, "errflag", K::PropertyLet, {in("New_errflag", T::Boolean)}, T::None},
    {dispid::resetall, "resetall", K::Method, {}, T::None},
    {dispid::repeat, "repeat", K::Method, {in("ct", T::Long)}, T::None},
    {dispid::readbyte, "readbyte", K::Method, {}, T::Long},
    {dispid::readword, "readword", K::Method, {}, T::Long},
    {dispid::a2dconf,
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
    case dispid::CommPort:
        if (get)
            return Variant(z.CommPort());
        z.CommPort(a.i(0));
        return {};
    case dispid::tris:
        if (get)
            return z.tris();
        z.tris(a.v(0));
        return {};
    case dispid::pins:
        if (get)
            return Variant(z.pins());
        z.pins(a.l(0));
        return {};
    case dispid::eeprom:
        if (get)
            return Variant(z.eeprom(a.l(0)));
        z.eeprom(a.l(0), a.l(1));
        return {};
    case dispid::ok:
        return Variant(z.ok());
    case dispid::led:
        if (get)
            return z.led();
        z.led(a.v(0));
        return {};
    case dispid::a2d:
        return Variant(z.a2d(a.l(0)));
    case dispid::toggle:
        z.toggle(a.l(0));
        return {};
    case dispid::high:
        z.high(a.l(0));
        return {};
    case dispid::low:
        z.low(a.l(0));
        return {};
    case dispid::inp:
        return Variant(z.inp(a.l(0)));
    case dispid::count:
        return Variant(z.count(a.l(0), a.l(1)));
    case dispid::pulseout:
        z.pulseout(a.l(0), a.l(1));
        return {};
    case dispid::pulsein:
        return Variant(z.pulsein(a.l(0), a.l(1)));
    case dispid::pwm:
        z.pwm(a.l(0), a.l(1), a.l(2));
        return {};
    case dispid::freq:
        z.freq(a.l(0), a.l(1), a.l(2));
        return {};
    case dispid::rctime:
        return Variant(z.rctime(a.l(0), a.l(1)));
    case dispid::portopen:
        if (get)
            return Variant(z.portopen());
        z.portopen(a.b(0));
        return {};
    case dispid::counter:
        if (get)
            return Variant(z.counter());
        z.counter(a.l(0));
        return {};
    case dispid::setcounter:
        z.setcounter(a.i(0), a.b(1));
        return {};
    case dispid::ready:
        if (get)
            return Variant(z.ready());
        z.ready(a.b(0));
        return {};
    case dispid::errflag:
        if (get)
            return Variant(z.errflag());
        z.errflag(a.b(0));
        return {};
    case dispid::resetall:
        z.resetall();
        return {};
    case dispid::repeat:
        z.repeat(a.l(0));
        return {};
    case dispid::readbyte:
        return Variant(z.readbyte());
    case dispid::readword:
        return Variant(z.readword());
    case dispid::a2dconf: {
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
