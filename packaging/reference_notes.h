#pragma once

// The hand-written part of docs/members.md and docs/errors.md: what each member does, the call its
// section shows, and the errors of its own arguments; who raises each error number and what a
// caller does about it. Everything else in those documents is found by running the members.

#include "encoding.h"
#include "member_table.h"
#include "variant.h"

#include <cstdint>
#include <vector>

namespace zelto::reference {

// An error a member raises for its own reasons. The generator calls the member with `probe` and
// stops when it does not fail with `number`; a case that does not run is a failure of the system
// that cannot be made here, such as a device that cannot be opened.
struct ErrorCase {
    int32_t number;
    const char* when;
    std::vector<Variant> probe;
    bool portOpen = true;
    bool runs = true;
};

struct MemberNote {
    const char* name;
    MemberKind kind;
    const char* what;
    std::vector<Variant> example;
    Bytes replies;        // what the board answers in the example
    bool portOpen = true; // the port's state when the example runs
    std::vector<ErrorCase> errors = {};
};

struct ErrorNote {
    int32_t number;
    const char* component;
    const char* when;
    const char* action;
    const char* members; // for numbers no member's own run shows; nullptr: found by running
};

const std::vector<MemberNote>& memberNotes();
const std::vector<ErrorNote>& errorNotes();

} // namespace zelto::reference
