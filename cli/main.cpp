// zelto: the board from the command line. Each subcommand sets itself up (subcommands.h); this
// only wires them up and parses.

#include "board_port.h"
#include "subcommands.h"

#include <CLI/CLI.hpp>

#include <cstdio>

int main(int argc, char** argv) {
    using namespace zelto::cli;
    CLI::App app{"zelto: find, try and watch the I/O board, and spy on its serial line."};
    app.require_subcommand(1);
    app.footer(PortHelp);

    int status = 0;
    for (auto setup : {setupPorts, setupPing, setupCall, setupShell, setupWatch, setupSpy})
        setup(app, status);

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
    return status;
}
