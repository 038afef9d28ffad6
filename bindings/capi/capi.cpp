// The C interface: each entry translates between C values and the board object, and turns every
// exception into an error number for the caller.

#include "ostrelzelto.h"

#include "errors.h"
#include "member_table.h"
#include "network_serial.h"
#include "port_list.h"
#include "posix_serial.h"
#include "sim_serial.h"
#include "values.h"
#include "zeltodll.h"

#include <memory>
#include <new>
#include <string>
#include <vector>

struct oz_board {
    zelto::ZeltoDLL board;
};

struct oz_port_list {
    std::vector<zelto::PortInfo> infos;
    std::vector<std::string> byId;
    std::vector<oz_port> ports;
};

namespace {

using namespace zelto;

static_assert(OZ_STRING == static_cast<int>(Variant::Type::String) &&
              OZ_BOOLEAN == static_cast<int>(Variant::Type::Boolean));
static_assert(OZ_METHOD == static_cast<int>(MemberKind::Method) &&
              OZ_PROPERTY_GET == static_cast<int>(MemberKind::PropertyGet) &&
              OZ_PROPERTY_PUT == static_cast<int>(MemberKind::PropertyLet));

thread_local int32_t t_error = 0;
thread_local std::string t_text;
// The last result of this thread's calls: its text stays valid until the thread calls again, and
// another thread's calls leave it alone.
thread_local Variant t_result;

int32_t fail(int32_t number, const std::string& text) {
    t_error = number;
    t_text = text;
    return number;
}

// Runs body; whatever it throws becomes this thread's last error and its number.
template <typename Body> int32_t guarded(Body&& body) noexcept {
    try {
        body();
        return 0;
    } catch (const AutomationError& e) {
        return fail(e.number(), e.what());
    } catch (const std::bad_alloc&) {
        return fail(err::OutOfMemory, errorDescription(err::OutOfMemory));
    } catch (...) {
        return fail(err::InternalError, errorDescription(err::InternalError));
    }
}

// A board object on the component that make returns, or NULL with the error left.
template <typename Make> oz_board* created(Make&& make) {
    oz_board* made = nullptr;
    guarded([&] { made = new oz_board{ZeltoDLL(make())}; });
    return made;
}

int32_t typeOf(ValueType type) {
    switch (type) {
    case ValueType::Integer:
        return OZ_INTEGER;
    case ValueType::Long:
        return OZ_LONG;
    case ValueType::Boolean:
        return OZ_BOOLEAN;
    case ValueType::Variant:
        return OZ_VARIANT;
    case ValueType::None:
        break;
    }
    return OZ_EMPTY;
}

int32_t call(oz_board* board, const Member* member, int32_t dispid, int32_t kind,
             const oz_value* args, int32_t count, oz_value* result) {
    return guarded([&] {
        if (!board || count < 0 || (count > 0 && !args))
            raise(err::InvalidArgument);
        // The count is checked before any argument is read: the array may end where the member's
        // arguments do.
        const auto asked = static_cast<MemberKind>(kind);
        const Member* found = member ? member : findMember(dispid, asked);
        if (!found)
            raise(err::NoSuchMember);
        if (static_cast<size_t>(count) != found->params.size())
            raise(err::WrongArgumentCount);
        std::vector<Variant> values;
        for (int32_t n = 0; n < count; ++n)
            values.push_back(capi::toVariant(args[n]));
        t_result = found->run(board->board, values);
        if (result)
            *result = capi::toValue(t_result);
    });
}

const Member* memberAt(int32_t index) {
    const auto& table = memberTable();
    if (index < 0 || static_cast<size_t>(index) >= table.size())
        raise(err::InvalidArgument);
    return &table[static_cast<size_t>(index)];
}

} // namespace

extern "C" {

oz_board* oz_board_create_device(const char* path) {
    return created([path] {
        if (!path)
            raise(err::InvalidArgument);
        // An empty path would name the port by number (/dev/ttyS0): it names no device.
        if (!*path)
            raise(err::NoSuchPort);
        return serialComponentFor(path);
    });
}

oz_board* oz_board_create_port(int32_t number) {
    oz_board* board = created([] { return std::make_unique<PosixSerial>(); });
    // Through the member, so that the number is converted and checked as CommPort does.
    const oz_value port{OZ_LONG, number, 0.0, nullptr};
    if (board && oz_call(board, dispid::CommPort, OZ_PROPERTY_PUT, &port, 1, nullptr) != 0) {
        oz_board_destroy(board);
        return nullptr;
    }
    return board;
}

oz_board* oz_board_create_simulated(void) {
    return created([] { return std::make_unique<sim::SimSerial>(); });
}

void oz_board_destroy(oz_board* board) {
    // The board object waits for a member that another thread runs to end; its port closes with
    // its serial component.
    delete board;
}

void oz_board_interrupt(oz_board* board) {
    if (board)
        board->board.interrupt();
}

int32_t oz_member_count(void) {
    return static_cast<int32_t>(memberTable().size());
}

int32_t oz_member_get(int32_t index, oz_member* out) {
    return guarded([&] {
        const Member* m = memberAt(index);
        if (!out)
            raise(err::InvalidArgument);
        *out = {m->name, m->dispid, static_cast<int32_t>(m->kind), typeOf(m->result),
                static_cast<int32_t>(m->params.size())};
    });
}

int32_t oz_member_param(int32_t index, int32_t param, const char** name, int32_t* type) {
    return guarded([&] {
        const Member* m = memberAt(index);
        if (param < 0 || static_cast<size_t>(param) >= m->params.size())
            raise(err::InvalidArgument);
        const Param& p = m->params[static_cast<size_t>(param)];
        if (name)
            *name = p.name;
        if (type)
            *type = typeOf(p.type);
    });
}

int32_t oz_call(oz_board* board, int32_t dispid, int32_t kind, const oz_value* args, int32_t count,
                oz_value* result) {
    return call(board, nullptr, dispid, kind, args, count, result);
}

int32_t oz_call_name(oz_board* board, const char* name, int32_t kind, const oz_value* args,
                     int32_t count, oz_value* result) {
    const Member* member = nullptr;
    if (const int32_t error = guarded([&] {
            member =
                name ? findMember(std::string_view(name), static_cast<MemberKind>(kind)) : nullptr;
            if (!member)
                raise(err::NoSuchMember);
        }))
        return error;
    return call(board, member, 0, kind, args, count, result);
}

int32_t oz_last_error(void) {
    return t_error;
}

const char* oz_last_error_text(void) {
    return t_text.c_str();
}

oz_port_list* oz_ports_list(void) {
    oz_port_list* list = nullptr;
    guarded([&] {
        auto made = std::make_unique<oz_port_list>();
        made->infos = listPorts("/sys", "/dev");
        for (const PortInfo& p : made->infos) {
            std::string names;
            for (const std::string& n : p.byId)
                names += (names.empty() ? "" : "\n") + n;
            made->byId.push_back(std::move(names));
        }
        for (size_t n = 0; n < made->infos.size(); ++n) {
            const PortInfo& p = made->infos[n];
            made->ports.push_back({p.device.c_str(), p.portNumber, made->byId[n].c_str(),
                                   p.vendorId.c_str(), p.productId.c_str(), p.serial.c_str(),
                                   p.manufacturer.c_str(), p.product.c_str(), p.driver.c_str(),
                                   p.mayOpen ? 1 : 0, p.remedy.c_str()});
        }
        list = made.release();
    });
    return list;
}

int32_t oz_ports_count(const oz_port_list* list) {
    return list ? static_cast<int32_t>(list->ports.size()) : 0;
}

const oz_port* oz_ports_get(const oz_port_list* list, int32_t index) {
    if (!list || index < 0 || static_cast<size_t>(index) >= list->ports.size())
        return nullptr;
    return &list->ports[static_cast<size_t>(index)];
}

void oz_ports_free(oz_port_list* list) {
    delete list;
}

} // extern "C"
