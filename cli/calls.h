#pragma once

#include "variant.h"
#include "zeltodll.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace zelto::cli {

// One call of a member by name: "a2d 0", "led=1", "eeprom 5=200" (an indexed property: the index
// before "=", the new value after it).
struct Call {
    std::string name;
    std::vector<std::string> args;
    std::optional<std::string> value; // set for a property assignment
    std::string text() const;         // as the user would write it
};

// A line that is no call at all: the program's usage error, nothing of the line is run.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Splits a line into calls at ";". Words are separated by blanks; "=" stands alone whether blanks
// surround it or not; double quotes keep blanks, "=" and ";" inside a word. A call that is not
// NAME [ARGS...] or NAME [INDEX...]=VALUE raises 450; a quote left open, a NUL byte or a line
// without a call throws UsageError.
std::vector<Call> parseCalls(const std::string& line);

// Runs the call through the member table, late-bound: the arguments are texts that the member
// coerces to its declared types. An unknown name raises 438.
Variant run(ZeltoDLL& board, const Call& call);

// "777 (Long)", "True (Boolean)", "\"abc\" (String)"; "done" for a member that returns nothing.
std::string formatResult(const Call& call, const Variant& value);

// The members with their parameters and result types, one per line, for --help and "help".
std::string memberList();

// Runs the calls in order and prints "CALL -> RESULT" for each; stops at the first failure,
// which it reports on standard error. Returns false when one failed.
bool runAndPrint(ZeltoDLL& board, const std::vector<Call>& calls);

} // namespace zelto::cli
