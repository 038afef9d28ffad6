#pragma once

// A member's declaration as a script programmer reads it: "Function a2d(pin As Long) As Long".

#include "member_table.h"

#include <string>

namespace zelto {

inline std::string signature(const Member& m) {
    std::string line;
    switch (m.kind) {
    case MemberKind::PropertyGet:
        line = "Property Get ";
        break;
    case MemberKind::PropertyLet:
        line = "Property Let ";
        break;
    case MemberKind::Method:
        line = m.result == ValueType::None ? "Sub " : "Function ";
        break;
    }
    line += m.name;
    if (!m.params.empty()) {
        line += "(";
        for (size_t n = 0; n < m.params.size(); ++n) {
            const Param& p = m.params[n];
            line += std::string(n ? ", " : "") + (p.byRef ? "ByRef " : "") + p.name + " As " +
                    typeName(p.type);
        }
        line += ")";
    } else if (m.kind == MemberKind::Method) {
        line += "()";
    }
    if (m.result != ValueType::None)
        line += std::string(" As ") + typeName(m.result);
    return line;
}

} // namespace zelto
