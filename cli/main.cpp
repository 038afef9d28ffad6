// zelto: the board from the command line.

#include "board_port.h"
#include "calls.h"
#include "port_list.h"
#include "watch_spy.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace zelto;
using namespace zelto::cli;
using Clock = std::chrono::steady_clock;

const char* const PortHelp =
    R"(PORT is a device path (/dev/ttyUSB0, /dev/serial/by-id/...), a name in /dev (ttyUSB0), a
port number as CommPort counts them (1 is /dev/ttyS0), or "sim", a simulated board inside
this program. Errors print one line with the error number and text; the exit status is then 1.)";

const char* const CallHelp =
    R"(A call is a member's name and its arguments: "a2d 0", "eeprom 5". A property is set with
NAME=VALUE ("led=1") or, with an index, NAME INDEX=VALUE ("eeprom 5=200"). Arguments are texts
that each member converts to its parameter types as a script host does ("12" to 12, "True" to
-1); names are matched in any case. ";" separates calls, which run in order on one opening
of the port; quote it for the shell: zelto call sim 'high 0; a2d 0'.
Double quotes keep blanks, "=" and ";" in an argument. The first failing call ends the run.

Members (parameters with their types, -> the result type):
)";

double millisSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int ping(const std::string& port) {
    try {
        const auto start = Clock::now();
        auto board = openBoard(port);
        const double opening = millisSince(start);
        const auto sent = Clock::now();
        const bool answered = board->ok();
        const double roundTrip = millisSince(sent);
        if (!answered) {
            std::printf("%s: no answer from the board (ok gave False after %.3f ms)\n",
                        port.c_str(), roundTrip);
            return 1;
        }
        std::printf("%s: the board answered in %.3f ms (opening took %.3f ms)\n", port.c_str(),
                    roundTrip, opening);
        return 0;
    } catch (const AutomationError& e) {
        return report(port, e);
    }
}

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

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"zelto: find, try and watch the I/O board, and spy on its serial line."};
    app.require_subcommand(1);
    app.footer(PortHelp);

    std::string sysRoot = "/sys";
    std::string devRoot = "/dev";
    auto* ports = app.add_subcommand("ports", "List the serial ports and what identifies them");
    ports->add_option("--sysfs", sysRoot, "where sysfs is (a copy, for tests)")
        ->capture_default_str();
    ports->add_option("--dev", devRoot, "where the device nodes are (a copy, for tests)")
        ->capture_default_str();
    ports->footer(
        R"(For each serial port the kernel knows (sysfs): the device and its port number when it has one,
its stable names in /dev/serial/by-id, the USB vendor and product numbers, serial number,
maker and product, the driver, and whether you may open it, with what to do when not.)");

    std::string port;
    auto* pingCmd = app.add_subcommand("ping", "Check that the board answers, and how fast");
    pingCmd->add_option("PORT", port, "the port")->required();
    pingCmd->footer(
        std::string(
            R"(Opens PORT (the opening handshake), calls ok and prints whether the board answered and the
round trip of ok. Exit status 0 only when it answered.

)") + PortHelp);

    std::vector<std::string> words;
    auto* callCmd = app.add_subcommand("call", "Call members of the board object by name");
    callCmd->add_option("PORT", port, "the port")->required();
    callCmd->add_option("CALLS", words, "the calls, separated by ;")->required();
    callCmd->footer(
        std::string(R"(Runs the calls on one opening of PORT and prints each result with its type.

)") + CallHelp +
        memberList() + "\n" + PortHelp);

    auto* shellCmd = app.add_subcommand("shell", "Run calls read line by line");
    shellCmd->add_option("PORT", port, "the port")->required();
    shellCmd->footer(
        std::string(
            R"(Reads calls line by line from a terminal or a pipe and runs them on one opening of PORT.
"help" lists the members; "quit", "exit" or the end of input ends; lines that begin with #
are skipped. Exit status 1 when any call failed.

)") + CallHelp +
        memberList() + "\n" + PortHelp);

    WatchOptions w;
    auto* watchCmd = app.add_subcommand("watch", "Print an analog input at a steady interval");
    watchCmd->add_option("PORT", w.port, "the port")->required();
    watchCmd->add_option("--pin", w.pin, "the analog input")->capture_default_str();
    // Whole numbers first, so that a word is told as such rather than as out of range.
    watchCmd->add_option("--interval", w.intervalMs, "milliseconds between readings")
        ->check(CLI::TypeValidator<long>())
        ->check(CLI::Range(1L, 3600000L))
        ->capture_default_str();
    watchCmd
        ->add_option("--count", w.count,
                     "stop after this many readings, up to 1000000000 (0: never)")
        ->check(CLI::TypeValidator<long>())
        ->check(CLI::Range(0L, 1000000000L))
        ->capture_default_str();
    watchCmd->add_flag("--fahrenheit", w.fahrenheit,
                       "also print degrees Fahrenheit as the temperature monitor computes them");
    watchCmd->add_flag("--csv", w.csv, "print seconds,reading[,fahrenheit] lines for a plot");
    watchCmd->footer(
        std::string(
            R"(Calls a2d at the interval and prints each reading with the seconds since the start; in a
terminal with a bar over the converter's range (0 to 1023). Degrees are those of the
temperature monitor: a sensor of 10 mV per degree on the 5 V, 10-bit converter. A reading the
board did not answer shows as "no answer" (empty in CSV). Ctrl-C ends it with the port closed.

)") + PortHelp);

    SpyOptions s;
    auto* spyCmd =
        app.add_subcommand("spy", "Pass a client's bytes to the board, printing every command");
    spyCmd->add_option("DEVICE", s.device, "the port the board is on, as PORT")->required();
    spyCmd->add_option("--link", s.link, "also make this path a symbolic link to the terminal");
    spyCmd->footer(
        std::string(
            R"(Serves a pseudo-terminal for the client (its path is the first line printed), passes every
byte between it and DEVICE unchanged and at once, and prints each command the client sent as
the board decodes it, in the simulator's format, after the time it passed and with the board's
answer bytes: "16:41:05.123456  30          a2d pin 0 -> 03 09".

DEVICE is set to the board's line: 57600 baud, 8N1, RTS/CTS flow control, DTR and RTS on.
What cannot pass through a pseudo-terminal: the modem lines. The client sees clear-to-send
always asserted and its RTS and DTR go nowhere; the board's flow control acts on DEVICE only,
where the kernel holds the client's bytes while the board keeps clear-to-send low. Line
settings the client makes (speed, parity) stay on the pseudo-terminal. Ctrl-C ends it with
DEVICE closed.

)") + PortHelp);

    // A word where the subcommand goes is an unknown subcommand, not a missing one.
    if (argc > 1 && argv[1][0] != '-' &&
        app.get_subcommands([&](const CLI::App* sub) { return sub->check_name(argv[1]); })
            .empty()) {
        std::fprintf(stderr, "zelto: unknown subcommand '%s'\nTry 'zelto --help'.\n", argv[1]);
        return 2;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // --help is a ParseError with status 0; every wrong command line ends with 2.
        return app.exit(e) == 0 ? 0 : 2;
    }

    if (ports->parsed()) {
        std::printf("%s", formatPorts(listPorts(sysRoot, devRoot)).c_str());
        return 0;
    }
    if (pingCmd->parsed())
        return ping(port);
    if (callCmd->parsed())
        return call(port, words);
    if (shellCmd->parsed())
        return shell(port);
    if (watchCmd->parsed())
        return watch(w);
    return spy(s);
}
