// zelto ping: whether the board answers, and how fast.

#include "board_port.h"
#include "subcommands.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

namespace zelto::cli {
namespace {

using Clock = std::chrono::steady_clock;

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

} // namespace

void setupPing(CLI::App& app, int& status) {
    auto port = std::make_shared<std::string>();
    auto* sub = app.add_subcommand("ping", "Check that the board answers, and how fast");
    sub->add_option("PORT", *port, "the port")->required();
    sub->footer(
        std::string(
            R"(Opens PORT (the opening handshake), calls ok and prints whether the board answered and the
round trip of ok. Exit status 0 only when it answered.

)") + PortHelp);
    sub->callback([port, &status] { status = ping(*port); });
}

} // namespace zelto::cli
