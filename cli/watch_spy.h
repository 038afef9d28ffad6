#pragma once

// The two subcommands that run until they are stopped, zelto watch and zelto spy: their options and
// their runs.

#include <string>

namespace zelto::cli {

struct WatchOptions {
    std::string port;
    int pin = 0;
    int intervalMs = 500;
    long count = 0; // 0: until interrupted
    bool fahrenheit = false;
    bool csv = false;
};

struct SpyOptions {
    std::string device;
    std::string link;
};

// Each returns the program's exit status.
int watch(const WatchOptions& options);
int spy(const SpyOptions& options);

// A descriptor that becomes readable when SIGINT, SIGTERM, SIGHUP or SIGPIPE arrives; the signals
// are blocked in this thread and the threads it starts, so that they end the program only where it
// looks.
int interruptDescriptor();

} // namespace zelto::cli
