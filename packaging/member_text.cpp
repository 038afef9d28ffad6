// Writes MEMBERS.txt of the Windows zip: every member of the board object with its dispatch
// identifier and signature, and every error number with its text, from the member table and the
// error texts themselves.

#include "errors.h"
#include "member_table.h"

#include <cstdio>
#include <string>

namespace {

using namespace zelto;

std::string signature(const Member& m) {
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

} // namespace

int main() {
    std::printf(
        "OstrelZeltoDLL.ZeltoDLL: members and error numbers\r\n\r\n"
        "Members, with the dispatch identifier (DISPID) a late-bound client calls:\r\n\r\n");
    for (const Member& m : memberTable())
        std::printf("  0x%08X  %s\r\n", static_cast<unsigned>(m.dispid), signature(m).c_str());

    std::printf("\r\nErrors arrive as automation errors: Err.Number in a script, the status "
                "0x800A0000 + number\r\nin C++ (with the text in the error info):\r\n\r\n");
    for (const ErrorEntry& e : ErrorList)
        std::printf("  %5d  %s\r\n", static_cast<int>(e.number), e.text);
    return 0;
}
