// Prints the wire table's rows that the simulated board answers, and the board's standard state, as
// JSON for the Python package's test. A value is [type] or [type, value].

#include "wire_table.h"

#include <cstdio>
#include <string>

namespace {

using zelto::Variant;

std::string quoted(const std::string& s) {
    std::string out = "\"";
    for (char c : s)
        out += (c == '"' || c == '\\') ? std::string("\\") + c : std::string(1, c);
    return out + "\"";
}

std::string json(const Variant& v) {
    switch (v.type()) {
    case Variant::Type::Boolean:
        return std::string("[\"Boolean\", ") + (v.integral() ? "true]" : "false]");
    case Variant::Type::Integer:
    case Variant::Type::Long:
        return "[\"Long\", " + std::to_string(v.integral()) + "]";
    case Variant::Type::Double: { // a whole number reads back as one through float()
        char text[48];
        std::snprintf(text, sizeof text, "[\"Double\", %.17g]", v.real());
        return text;
    }
    case Variant::Type::String:
        return "[\"String\", " + quoted(v.text()) + "]";
    default: // the table holds no other types
        return v.isNull() ? "[\"Null\"]" : "[\"Empty\"]";
    }
}

} // namespace

int main() {
    using zelto::MemberKind;
    std::string out = "{\"board\": [";
    for (const std::string& line : zelto::test::standardBoard())
        out += (out.back() == '[' ? "" : ", ") + quoted(line);
    out += "],\n \"rows\": [";
    const char* sep = "\n  ";
    for (const zelto::test::WireRow& r : zelto::test::modelledRows()) {
        std::string args;
        for (const Variant& a : r.args)
            args += (args.empty() ? "" : ", ") + json(a);
        const char* kind = r.kind == MemberKind::Method        ? "method"
                           : r.kind == MemberKind::PropertyGet ? "get"
                                                               : "put";
        out += sep + std::string("{\"member\": ") +
               quoted(zelto::findMember(r.dispid, r.kind)->name) + ", \"kind\": \"" + kind +
               "\", \"args\": [" + args + "], \"result\": " + json(r.result) +
               ", \"error\": " + std::to_string(r.error) + "}";
        sep = ",\n  ";
    }
    std::printf("%s]}\n", out.c_str());
}
