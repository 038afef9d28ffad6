#pragma once

// The subcommands of zelto, one set-up function each: it adds the subcommand and its options to the
// program and runs it when the command line names it, leaving the exit status in status.

namespace CLI {
class App;
}

namespace zelto::cli {

void setupPorts(CLI::App& app, int& status);
void setupPing(CLI::App& app, int& status);
void setupCall(CLI::App& app, int& status);
void setupShell(CLI::App& app, int& status);
void setupWatch(CLI::App& app, int& status);
void setupSpy(CLI::App& app, int& status);

} // namespace zelto::cli
