#include "calls.h"

#include "board_port.h"
#include "errors.h"
#include "member_table.h"

#include <cstdio>

namespace zelto::cli {
namespace {

const char* typeName(Variant::Type type) {
    switch (type) {
    case Variant::Type::Empty:
        return "Empty";
    case Variant::Type::Null:
        return "Null";
    case Variant::Type::Boolean:
        return "Boolean";
    case Variant::Type::Integer:
        return "Integer";
    case Variant::Type::Long:
        return "Long";
    case Variant::Type::Double:
        return "Double";
    case Variant::Type::String:
        return "String";
    case Variant::Type::Foreign:
        return "Object";
    }
    return "?";
}

MemberKind kindOf(const Call& call) {
    if (call.value)
        return MemberKind::PropertyLet;
    return findMember(call.name, MemberKind::Method) ? MemberKind::Method : MemberKind::PropertyGet;
}

// A word and whether it is the unquoted separator "=" or ";".
struct Word {
    std::string text;
    char separator = 0;
};

std::vector<Word> words(const std::string& line) {
    std::vector<Word> out;
    bool inWord = false;
    bool quoted = false;
    for (char c : line) {
        if (quoted) {
            if (c == '"')
                quoted = false;
            else
                out.back().text += c;
        } else if (c == '"') {
            if (!inWord)
                out.emplace_back();
            inWord = quoted = true;
        } else if (c == '=' || c == ';') {
            out.push_back({std::string(1, c), c});
            inWord = false;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            inWord = false;
        } else {
            if (!inWord)
                out.emplace_back();
            out.back().text += c;
            inWord = true;
        }
    }
    if (quoted)
        throw UsageError("a quote is not closed");
    return out;
}

Call toCall(const std::vector<Word>& w) {
    Call call;
    size_t n = 0;
    for (; n < w.size() && w[n].separator != '='; ++n) {
        if (n == 0)
            call.name = w[n].text;
        else
            call.args.push_back(w[n].text);
    }
    if (n < w.size()) {
        if (n == 0 || n + 2 != w.size() || w[n + 1].separator)
            raise(err::WrongArgumentCount);
        call.value = w[n + 1].text;
    }
    return call;
}

std::string quoteIfNeeded(const std::string& s) {
    return s.empty() || s.find_first_of(" \t=;") != std::string::npos ? '"' + s + '"' : s;
}

} // namespace

std::string Call::text() const {
    std::string out = name;
    for (const std::string& a : args)
        out += ' ' + quoteIfNeeded(a);
    if (value)
        out += '=' + quoteIfNeeded(*value);
    return out;
}

std::vector<Call> parseCalls(const std::string& line) {
    if (line.find('\0') != std::string::npos)
        throw UsageError("a NUL byte in the line");
    std::vector<Call> calls;
    std::vector<Word> current;
    for (Word& w : words(line + ";")) {
        if (w.separator != ';') {
            current.push_back(std::move(w));
        } else if (!current.empty()) {
            calls.push_back(toCall(current));
            current.clear();
        }
    }
    if (calls.empty())
        throw UsageError("no call");
    return calls;
}

Variant run(ZeltoDLL& board, const Call& call) {
    const Member* any = findMember(call.name);
    if (!any)
        raise(err::NoSuchMember);
    std::vector<Variant> args(call.args.begin(), call.args.end());
    if (call.value)
        args.emplace_back(*call.value);
    return invoke(board, any->dispid, kindOf(call), args);
}

std::string formatResult(const Call& call, const Variant& value) {
    const Member* m = findMember(call.name, kindOf(call));
    if (m && m->result == ValueType::None)
        return "done";
    std::string text;
    switch (value.type()) {
    case Variant::Type::Boolean:
        text = value.integral() ? "True" : "False";
        break;
    case Variant::Type::Integer:
    case Variant::Type::Long:
        text = std::to_string(value.integral());
        break;
    case Variant::Type::Double: {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.15g", value.real());
        text = buf;
        break;
    }
    case Variant::Type::String:
        text = '"' + value.text() + '"';
        break;
    case Variant::Type::Empty:
    case Variant::Type::Null:
    case Variant::Type::Foreign:
        return typeName(value.type());
    }
    return text + " (" + typeName(value.type()) + ")";
}

std::string memberList() {
    std::string out;
    for (const Member& m : memberTable()) {
        std::string line = m.name;
        const size_t indexes =
            m.kind == MemberKind::PropertyLet ? m.params.size() - 1 : m.params.size();
        for (size_t n = 0; n < indexes; ++n)
            line += std::string(" ") + m.params[n].name + ":" + typeName(m.params[n].type);
        if (m.kind == MemberKind::PropertyLet)
            line += std::string("=") + m.params.back().name + ":" + typeName(m.params.back().type);
        if (m.result != ValueType::None)
            line += std::string(" -> ") + typeName(m.result);
        out += "  " + line + "\n";
    }
    return out;
}

bool runAndPrint(ZeltoDLL& board, const std::vector<Call>& calls) {
    for (Call call : calls) {
        if (const Member* m = findMember(call.name))
            call.name = m->name;
        try {
            const Variant result = run(board, call);
            std::printf("%s -> %s\n", call.text().c_str(), formatResult(call, result).c_str());
        } catch (const AutomationError& e) {
            report(call.text(), e);
            return false;
        }
    }
    std::fflush(stdout);
    return true;
}

} // namespace zelto::cli
