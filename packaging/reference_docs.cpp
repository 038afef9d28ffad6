// Writes docs/members.md and docs/errors.md from the member table, the error list and the notes
// beside this file. Every byte, result and error shown is found by calling the member through
// invoke on a board object whose serial component records what it is given:
//   reference_docs DIR           writes DIR/members.md and DIR/errors.md
//   reference_docs --check DIR   fails when they differ from what it would write

#include "errors.h"
#include "member_table.h"
#include "reference_notes.h"
#include "serial_base.h"
#include "signature.h"
#include "zeltodll.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace zelto;
using reference::ErrorCase;
using reference::MemberNote;

// In memory: writes are kept one by one, reads take the next byte the board is to answer. The rules
// of every serial component (port numbers, opening, a closed port) are SerialBase's own.
class RecordingSerial : public SerialBase {
  public:
    bool cts = true;
    int32_t writeFailure = 0;
    Bytes replies;
    std::vector<Bytes> writes;

    bool portOpen() const override { return m_open; }

  protected:
    void openPort() override { m_open = true; }
    void closePort() override { m_open = false; }
    bool readCts(Millis) override {
        // A device that went is also told by a look at the line; other failures hit writes only.
        if (writeFailure == err::DeviceGone)
            raise(writeFailure);
        return cts;
    }
    void writeBytes(const Bytes& bytes) override {
        if (writeFailure)
            raise(writeFailure);
        writes.push_back(bytes);
    }
    Bytes readBytes(Millis) override {
        if (replies.empty())
            return {};
        Bytes first = replies.substr(0, 1);
        replies.erase(0, 1);
        return first;
    }

  private:
    bool m_open = false;
};

struct Outcome {
    std::vector<Bytes> writes;
    int32_t error = 0;
    Variant result;
    bool errflag = false;
};

struct Setup {
    bool portOpen = true;
    bool cts = true;
    int32_t writeFailure = 0;
    Bytes replies;
};

// The limits are short so that a run without an answer or without clear-to-send ends at once.
Outcome run(const Member& m, const std::vector<Variant>& args, const Setup& setup) {
    auto owned = std::make_unique<RecordingSerial>();
    RecordingSerial& comm = *owned;
    ZeltoDLL board(std::move(owned), nullptr, Limits{Millis{20}, Millis{1}, Millis{1}});
    if (setup.portOpen)
        comm.setPortOpen(true);
    comm.cts = setup.cts;
    comm.writeFailure = setup.writeFailure;
    comm.replies = setup.replies;
    Outcome out;
    try {
        out.result = invoke(board, m.dispid, m.kind, args);
    } catch (const AutomationError& e) {
        out.error = e.number();
    }
    out.writes = comm.writes;
    out.errflag = board.errflag();
    return out;
}

std::string hex(const Bytes& bytes) {
    std::string out;
    char digits[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(digits, sizeof digits, "%02X", byteAt(bytes, i));
        out += (i ? " " : "") + std::string(digits);
    }
    return out;
}

std::string hexWrites(const std::vector<Bytes>& writes) {
    std::string out;
    for (const Bytes& w : writes)
        out += (out.empty() ? "`" : ", `") + hex(w) + "`";
    return out.empty() ? "nothing" : out;
}

enum class Language { VBScript, Python, Cpp };

std::string literal(const Variant& v, Language lang) {
    switch (v.type()) {
    case Variant::Type::Boolean:
        if (lang == Language::Cpp)
            return v.integral() ? "true" : "false";
        return v.integral() ? "True" : "False";
    case Variant::Type::Integer:
    case Variant::Type::Long:
        return std::to_string(v.integral());
    case Variant::Type::String:
        return "\"" + v.text() + "\"";
    case Variant::Type::Null:
        return "Null";
    default:
        return "Empty";
    }
}

std::string joinArgs(const std::vector<Variant>& args, size_t from, size_t to, Language lang) {
    std::string out;
    for (size_t i = from; i < to; ++i)
        out += (i > from ? ", " : "") + literal(args[i], lang);
    return out;
}

// One line calling the member as a program in that language does.
std::string exampleLine(const Member& m, const std::vector<Variant>& args, Language lang) {
    const std::string name = m.name;
    const size_t n = args.size();
    const bool result = m.result != ValueType::None;
    switch (lang) {
    case Language::VBScript:
        if (m.kind == MemberKind::PropertyLet) {
            const std::string index = n > 1 ? "(" + joinArgs(args, 0, n - 1, lang) + ")" : "";
            return "board." + name + index + " = " + literal(args[n - 1], lang);
        }
        if (m.kind == MemberKind::PropertyGet)
            return "x = board." + name + (n ? "(" + joinArgs(args, 0, n, lang) + ")" : "");
        if (result)
            return "x = board." + name + "(" + joinArgs(args, 0, n, lang) + ")";
        return "board." + name + (n ? " " + joinArgs(args, 0, n, lang) : "");
    case Language::Python:
        if (m.kind == MemberKind::PropertyLet) {
            const std::string index = n > 1 ? "[" + joinArgs(args, 0, n - 1, lang) + "]" : "";
            return "board." + name + index + " = " + literal(args[n - 1], lang);
        }
        if (m.kind == MemberKind::PropertyGet)
            return "x = board." + name + (n ? "[" + joinArgs(args, 0, n, lang) + "]" : "");
        return std::string(result ? "x = " : "") + "board." + name + "(" +
               joinArgs(args, 0, n, lang) + ")";
    case Language::Cpp:
        return std::string(result ? "auto x = " : "") + "board." + name + "(" +
               joinArgs(args, 0, n, lang) + ");";
    }
    return {};
}

std::string callText(const Member& m, const std::vector<Variant>& args) {
    return exampleLine(m, args, Language::VBScript);
}

std::string heading(const Member& m) {
    switch (m.kind) {
    case MemberKind::PropertyGet:
        return std::string(m.name) + " (get)";
    case MemberKind::PropertyLet:
        return std::string(m.name) + " (let)";
    case MemberKind::Method:
        break;
    }
    return m.name;
}

std::string anchor(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == ' ')
            out += '-';
        else if (c != '(' && c != ')')
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

const char* kindText(const Member& m) {
    switch (m.kind) {
    case MemberKind::PropertyGet:
        return "property get";
    case MemberKind::PropertyLet:
        return "property let";
    case MemberKind::Method:
        break;
    }
    return m.result == ValueType::None ? "method without a result" : "method with a result";
}

std::string resultText(const Variant& v) {
    if (v.isEmpty())
        return "nothing";
    const char* type = v.type() == Variant::Type::Integer   ? "Integer"
                       : v.type() == Variant::Type::Boolean ? "Boolean"
                                                            : "Long";
    return literal(v, Language::VBScript) + " (" + type + ")";
}

class Failure : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Every error of a member, by number: each with the conditions under which it arises.
using ErrorMap = std::map<int32_t, std::vector<std::string>>;

void addOnce(ErrorMap& errors, int32_t number, const std::string& when) {
    auto& list = errors[number];
    // A member that always fails with this number needs no other reason for it.
    if (!list.empty() && list.front() == "always")
        return;
    for (const std::string& w : list)
        if (w == when)
            return;
    list.push_back(when);
}

struct MemberPage {
    const Member* member;
    const MemberNote* note;
    Outcome example;
    ErrorMap errors;
    std::string silent; // what a board that does not answer gives
};

std::string after(const Outcome& o) {
    return o.writes.empty() ? std::string() : ", after " + hexWrites(o.writes) + " went out";
}

MemberPage study(const Member& m, const MemberNote& note) {
    MemberPage page{&m, &note, {}, {}, {}};
    const Setup base{note.portOpen, true, 0, note.replies};
    page.example = run(m, note.example, base);
    if (page.example.error)
        addOnce(page.errors, page.example.error, "always");
    if (note.replies.size() && !page.example.error) {
        const Outcome silent = run(m, note.example, Setup{note.portOpen, true, 0, {}});
        page.silent =
            std::string("A board that does not answer: ") +
            (m.result == ValueType::None ? "" : "it returns " + resultText(silent.result) + ", ") +
            (silent.errflag ? "`errflag` is set, " : "") + "and no error is raised.";
    }
    if (note.portOpen) {
        const Outcome closed = run(m, note.example, Setup{false, true, 0, note.replies});
        if (closed.error)
            addOnce(page.errors, closed.error, "the port is closed" + after(closed));
    }
    const Outcome held = run(m, note.example, Setup{note.portOpen, false, 0, note.replies});
    if (held.error)
        addOnce(page.errors, held.error,
                "the board holds clear-to-send low for longer than the link wait (5 s)" +
                    after(held));
    for (const int32_t failure : {err::DeviceGone, err::PortIoError}) {
        const Outcome failed =
            run(m, note.example, Setup{note.portOpen, true, failure, note.replies});
        if (failed.error)
            addOnce(page.errors, failed.error,
                    failure == err::DeviceGone
                        ? "the device went away (unplugged, the far end closed)"
                        : "the system fails a write");
    }
    // Each parameter in turn given a value that is not a number, Null, and a number beyond a Long.
    const struct {
        Variant value;
        const char* what;
    } probes[] = {{"abc", "is a text that is not a number"},
                  {Variant::null(), "is Null"},
                  {1e10, "is beyond its type (1E10)"}};
    for (size_t p = 0; p < m.params.size(); ++p)
        for (const auto& probe : probes) {
            std::vector<Variant> args = note.example;
            args[p] = probe.value;
            const Outcome o = run(m, args, Setup{note.portOpen, true, 0, note.replies});
            if (o.error)
                addOnce(page.errors, o.error,
                        "`" + std::string(m.params[p].name) + "` " +
                            (probe.value.type() == Variant::Type::String &&
                                     m.params[p].type == ValueType::Boolean
                                 ? "is a text that is neither a number nor True or False"
                                 : probe.what));
        }
    for (const ErrorCase& c : note.errors) {
        if (c.runs) {
            const Outcome o = run(m, c.probe, Setup{c.portOpen, true, 0, {}});
            if (o.error != c.number)
                throw Failure(heading(m) + ": " + callText(m, c.probe) + " raised " +
                              std::to_string(o.error) + ", the notes say " +
                              std::to_string(c.number));
        }
        addOnce(page.errors, c.number, c.when);
    }
    return page;
}

const MemberNote& noteFor(const Member& m) {
    const MemberNote* found = nullptr;
    for (const MemberNote& n : reference::memberNotes())
        if (n.kind == m.kind && std::string(n.name) == m.name) {
            if (found)
                throw Failure(heading(m) + " has two notes");
            found = &n;
        }
    if (!found)
        throw Failure(heading(m) + " has no note");
    if (found->example.size() != m.params.size())
        throw Failure(heading(m) + ": the example does not take every parameter");
    return *found;
}

std::string membersDocument(const std::vector<MemberPage>& pages) {
    std::ostringstream md;
    md << "# Members of the board object\n\n"
          "<!-- Written by `cmake --build BUILD --target docs` (packaging/reference_docs.cpp); do "
          "not edit. -->\n\n"
          "Every member of `OstrelZeltoDLL.ZeltoDLL` in the order of the type library's interface "
          "`_ZeltoDLL`. The same members are the C++ class `zelto::ZeltoDLL`, the members listed "
          "by "
          "the C interface, the attributes of the Python package's `Board` and the calls of "
          "`zelto call`. Each section shows an example call as it runs: the bytes it writes (one "
          "write each), what the board answered and what the member returned. Error numbers are "
          "listed in [errors.md](errors.md).\n\n"
          "Any member may also fail with these, whatever it does:\n\n"
          "- **18** when `interrupt()` ends it while it runs or waits for its turn;\n"
          "- **438** and **450** when called late-bound (by name or dispatch identifier) with a "
          "name or kind it does not have, or with the wrong number of arguments;\n"
          "- **8120** when another thread's member holds the board object for longer than the "
          "link wait (5 s).\n\nMembers:\n\n";
    for (const MemberPage& p : pages)
        md << "- [" << heading(*p.member) << "](#" << anchor(heading(*p.member)) << ")\n";
    for (const MemberPage& p : pages) {
        const Member& m = *p.member;
        char id[16];
        std::snprintf(id, sizeof id, "0x%08X", static_cast<unsigned>(m.dispid));
        md << "\n## " << heading(m) << "\n\n`" << signature(m) << "`\n\n" << p.note->what << "\n\n";
        md << "| | |\n|---|---|\n| Kind | " << kindText(m) << " |\n| Dispatch identifier | " << id
           << " |\n";
        if (!m.params.empty()) {
            md << "| Parameters | ";
            for (size_t i = 0; i < m.params.size(); ++i)
                md << (i ? ", " : "") << "`" << m.params[i].name << "` "
                   << typeName(m.params[i].type) << (m.params[i].byRef ? " (by reference)" : "");
            md << " |\n";
        }
        md << "| Result | " << (m.result == ValueType::None ? "none" : typeName(m.result))
           << " |\n";
        md << "| Example | `" << callText(m, p.note->example) << "`"
           << (p.note->portOpen ? "" : ", the port closed") << " |\n";
        md << "| Writes | " << hexWrites(p.example.writes) << " |\n";
        if (!p.note->replies.empty())
            md << "| The board answers | `" << hex(p.note->replies) << "` |\n";
        if (p.example.error)
            md << "| Raises | " << p.example.error << " |\n";
        else if (m.result != ValueType::None)
            md << "| Returns | " << resultText(p.example.result) << " |\n";
        md << "\n";
        if (!p.silent.empty())
            md << p.silent << "\n\n";
        if (p.errors.empty())
            md << "Errors: none of its own.\n\n";
        else {
            md << "Errors:\n\n";
            for (const auto& [number, whens] : p.errors) {
                md << "- **" << number << "** " << errorDescription(number) << ": ";
                for (size_t i = 0; i < whens.size(); ++i)
                    md << (i ? "; " : "") << whens[i];
                md << "\n";
            }
            md << "\n";
        }
        md << "```vb\n"
           << exampleLine(m, p.note->example, Language::VBScript) << "\n```\n\n```python\n"
           << exampleLine(m, p.note->example, Language::Python) << "\n```\n\n```cpp\n"
           << exampleLine(m, p.note->example, Language::Cpp) << "\n```\n";
    }
    return md.str();
}

std::string errorsDocument(const std::vector<MemberPage>& pages) {
    std::map<int32_t, std::vector<std::string>> raisedBy;
    for (const MemberPage& p : pages)
        for (const auto& entry : p.errors)
            raisedBy[entry.first].push_back("[" + heading(*p.member) + "](members.md#" +
                                            anchor(heading(*p.member)) + ")");
    std::set<int32_t> noted;
    std::ostringstream md;
    md << "# Error numbers\n\n"
          "<!-- Written by `cmake --build BUILD --target docs` (packaging/reference_docs.cpp); do "
          "not edit. -->\n\n"
          "Every failure is an automation error with a number n. A script sees it as `Err.Number`, "
          "a C++ client of the automation server as the status 0x800A0000 + n with the text in its "
          "error info, a native C++ program as `zelto::AutomationError` (`number()`, `what()`), "
          "the C interface as the returned number with `oz_last_error_text()`, Python as "
          "`ostrelzelto.ZeltoError` (`.number`, `.text`), and `zelto` as the line `zelto: WHAT: "
          "error N: TEXT`. The serial component's texts also name the device, for example `No "
          "such serial port: /dev/ttyS4 (errno 2)`. A failed read of a reply byte is never an "
          "error: the member gets 0 and `errflag` is set.\n\n"
          "| Number | Status | Text |\n|---|---|---|\n";
    for (const ErrorEntry& e : ErrorList) {
        char status[16];
        std::snprintf(status, sizeof status, "0x%08X",
                      0x800A0000u + static_cast<unsigned>(e.number));
        md << "| [" << e.number << "](#" << e.number << ") | " << status << " | " << e.text
           << " |\n";
    }
    for (const ErrorEntry& e : ErrorList) {
        const reference::ErrorNote* note = nullptr;
        for (const auto& n : reference::errorNotes())
            if (n.number == e.number)
                note = &n;
        if (!note)
            throw Failure("error " + std::to_string(e.number) + " has no note");
        noted.insert(e.number);
        md << "\n## " << e.number << "\n\n**" << e.text << "** (`err::" << e.name << "`)\n\n"
           << "- Raised by: " << note->component << ".\n- When: " << note->when << ".\n";
        md << "- Members: ";
        if (note->members)
            md << note->members;
        const auto found = raisedBy.find(e.number);
        if (found != raisedBy.end()) {
            if (note->members)
                md << "; of their own: ";
            for (size_t i = 0; i < found->second.size(); ++i)
                md << (i ? ", " : "") << found->second[i];
        } else if (!note->members) {
            throw Failure("no member raises " + std::to_string(e.number) +
                          " and its note names none");
        }
        md << ".\n- What to do: " << note->action << "\n";
    }
    for (const auto& n : reference::errorNotes())
        if (!noted.count(n.number))
            throw Failure("the note for " + std::to_string(n.number) + " names no error");
    for (const auto& entry : raisedBy)
        if (!noted.count(entry.first))
            throw Failure("a member raises " + std::to_string(entry.first) + ", not in the list");
    return md.str();
}

std::optional<std::string> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

int main(int argc, char** argv) {
    const bool check = argc == 3 && std::string(argv[1]) == "--check";
    if (argc != 2 && !check) {
        std::fprintf(stderr, "usage: reference_docs [--check] DIR\n");
        return 2;
    }
    const std::string dir = argv[argc - 1];
    try {
        std::vector<MemberPage> pages;
        for (const Member& m : memberTable())
            pages.push_back(study(m, noteFor(m)));
        if (pages.size() != reference::memberNotes().size())
            throw Failure("a note names no member");
        const std::pair<std::string, std::string> documents[] = {
            {dir + "/members.md", membersDocument(pages)},
            {dir + "/errors.md", errorsDocument(pages)},
        };
        int stale = 0;
        for (const auto& [path, text] : documents) {
            if (!check) {
                std::ofstream(path, std::ios::binary) << text;
                continue;
            }
            if (readFile(path) != text) {
                std::fprintf(stderr,
                             "%s is not what the member table, the error list and "
                             "packaging/reference_notes.cpp make now; rewrite it with the build "
                             "target docs\n",
                             path.c_str());
                ++stale;
            }
        }
        return stale ? 1 : 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "reference_docs: %s\n", e.what());
        return 1;
    }
}
