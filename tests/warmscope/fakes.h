#pragma once

// A board that records every call by name and argument types, and a view of the window's controls
// that writes what it is told into the same log, so tests can read the handlers' actions in order.

#include "monitor.h"

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace warmscope::test {

using Log = std::vector<std::string>;

inline Log join(std::initializer_list<Log> parts) {
    Log all;
    for (const Log& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// A value as the log shows it: Booleans as True/False, 16-bit integers with a trailing %,
// 32-bit integers bare, anything else marked so that no expectation matches it by accident.
inline std::string show(const Variant& v) {
    switch (v.type()) {
    case Variant::Type::Boolean:
        return v.integral() ? "True" : "False";
    case Variant::Type::Integer:
        return std::to_string(v.integral()) + "%";
    case Variant::Type::Long:
        return std::to_string(v.integral());
    default:
        return "<other>";
    }
}

class RecordingBoard : public Board {
  public:
    explicit RecordingBoard(Log& log) : m_log(log) {}

    bool ready = true;
    // Readings answered to a2d in turn; the last one repeats.
    std::deque<Variant> readings{Variant(int32_t{153})};
    // A call whose log text starts with the key raises the number, on the given occurrence
    // (1 = the first such call from now on).
    struct Failure {
        int32_t number;
        int occurrence = 1;
    };
    std::map<std::string, Failure> failures;
    // Runs inside every call, before its failure, as window events do while a call waits.
    std::function<void(const std::string& call)> during;

    Variant call(int32_t id, MemberKind kind, const std::vector<Variant>& args) override {
        const std::string text = describe(id, kind, args);
        m_log.push_back(text);
        if (during)
            during(text);
        for (auto& [prefix, failure] : failures) {
            if (text.rfind(prefix, 0) == 0 && --failure.occurrence == 0)
                throw zelto::AutomationError(failure.number);
        }
        if (id == dispid::ready)
            return Variant(ready);
        if (id == dispid::a2d) {
            Variant v = readings.front();
            if (readings.size() > 1)
                readings.pop_front();
            return v;
        }
        return {};
    }

  private:
    static std::string describe(int32_t id, MemberKind kind, const std::vector<Variant>& args) {
        const zelto::Member* member = zelto::findMember(id, kind);
        std::string text = member ? member->name : "unknown";
        text += kind == MemberKind::PropertyGet ? "?" : kind == MemberKind::PropertyLet ? "=" : "(";
        for (size_t n = 0; n < args.size(); ++n)
            text += (n ? "," : "") + show(args[n]);
        if (kind == MemberKind::Method)
            text += ")";
        return text;
    }

    Log& m_log;
};

class FakeView : public View {
  public:
    explicit FakeView(Log& log) : m_log(log) {}

    std::map<Label, std::string> caption = {{Label::Temp, "Temp="},
                                            {Label::CStatus, "Disconnected"}};
    std::map<Label, int32_t> colour = {{Label::Temp, kGreen}, {Label::CStatus, kRed}};
    std::string tag = "Temp=";
    std::string limit = "75";
    std::vector<std::string> ports;
    std::string picked = "1";
    bool timer = false;

    void setCaption(Label label, const std::string& text) override {
        m_log.push_back(name(label) + " caption " + text);
        caption[label] = text;
    }
    void setColour(Label label, int32_t c) override {
        m_log.push_back(name(label) + " colour " + std::to_string(c));
        colour[label] = c;
    }
    std::string tempTag() const override { return tag; }
    std::string limitText() const override { return limit; }
    void addPort(const std::string& entry) override { ports.push_back(entry); }
    std::string pickedPort() const override { return picked; }
    void setTimerEnabled(bool on) override {
        m_log.push_back(on ? "timer on" : "timer off");
        timer = on;
    }
    void showMessage(const std::string& text) override { m_log.push_back("message " + text); }

  private:
    static std::string name(Label label) { return label == Label::Temp ? "Temp" : "CStatus"; }
    Log& m_log;
};

} // namespace warmscope::test
