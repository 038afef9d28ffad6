// zelto call and zelto shell: members called by name, from the command line or line by line.

#include "board_port.h"
#include "calls.h"
#include "subcommands.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace zelto::cli {
namespace {

const char* const CallHelp =
    R"(A call is a member's name and its arguments: "a2d 0", "eeprom 5". A property is set with
NAME=VALUE ("led=1") or, with an index, NAME INDEX=VALUE ("eeprom 5=200"). Arguments are texts
that each member converts to its parameter types as a script host does ("12" to 12, "True" to
-1); names are matched in any case. ";" separates calls, which run in order on one opening
of the port; quote it for the shell: zelto call sim 'high 0; a2d 0'.
Double quotes keep blanks, "=" and ";" in an argument. The first failing call ends the run.

Members (parameters with their types, -> the result type):
)";

int usage(const std::string& line, const UsageError& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "zelto: %s: %s\n", line.c_str(), e.what());
    return 2;
}

int call(const std::string& port, const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& w : words)
        line += (line.empty() ? "" : " ") + w;
    std::vector<Call> calls;
    try {
        calls = parseCalls(line);
    } catch (const AutomationError& e) {
        return report(line, e);
    } catch (const UsageError& e) {
        return usage(line, e);
    }
    try {
        auto board = openBoard(port);
        return runAndPrint(*board, calls) ? 0 : 1;
    } catch (const AutomationError& e) {
        return report(port, e);
    }
}

int shell(const std::string& port) {
    // A read of a folder fails as the end of the input would.
    struct stat input {};
    if (fstat(STDIN_FILENO, &input) == 0 && S_ISDIR(input.st_mode)) {
        std::fprintf(stderr, "zelto: the calls cannot be read from a folder\n");
        return 2;
    }
    std::unique_ptr<ZeltoDLL> board;
    try {
        board = openBoard(port);
    } catch (const AutomationError& e) {
        return report(port, e);
    }
    const bool interactive = isatty(STDIN_FILENO);
    if (interactive)
        std::printf("Board on %s. Type calls (\"help\" lists the members, \"quit\" ends).\n",
                    port.c_str());
    bool allGood = true;
    bool misused = false;
    std::string line;
    for (;;) {
        if (interactive) {
            std::printf("zelto> ");
            std::fflush(stdout);
        }
        if (!std::getline(std::cin, line))
            break;
        const size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#')
            continue;
        line = line.substr(first);
        if (line == "quit" || line == "exit")
            break;
        if (line == "help") {
            std::printf("%s", memberList().c_str());
            continue;
        }
        try {
            allGood = runAndPrint(*board, parseCalls(line)) && allGood;
        } catch (const AutomationError& e) {
            allGood = report(line, e) == 0 && allGood;
        } catch (const UsageError& e) {
            usage(line, e);
            misused = true;
        }
    }
    if (interactive)
        std::printf("\n");
    if (misused)
        return 2;
    return allGood ? 0 : 1;
}

struct CallOptions {
    std::string port;
    std::vector<std::string> words;
};

} // namespace

void setupCall(CLI::App& app, int& status) {
    auto o = std::make_shared<CallOptions>();
    auto* sub = app.add_subcommand("call", "Call members of the board object by name");
    sub->add_option("PORT", o->port, "the port")->required();
    sub->add_option("CALLS", o->words, "the calls, separated by ;")->required();
    sub->footer(
        std::string(R"(Runs the calls on one opening of PORT and prints each result with its type.

)") + CallHelp +
        memberList() + "\n" + PortHelp);
    sub->callback([o, &status] { status = call(o->port, o->words); });
}

void setupShell(CLI::App& app, int& status) {
    auto port = std::make_shared<std::string>();
    auto* sub = app.add_subcommand("shell", "Run calls read line by line");
    sub->add_option("PORT", *port, "the port")->required();
    sub->footer(
        std::string(
            R"(Reads calls line by line from a terminal or a pipe and runs them on one opening of PORT.
"help" lists the members; "quit", "exit" or the end of input ends; lines that begin with #
are skipped. Exit status 1 when any call failed.

)") + CallHelp +
        memberList() + "\n" + PortHelp);
    sub->callback([port, &status] { status = shell(*port); });
}

} // namespace zelto::cli
