#pragma once

#include "errors.h"
#include "serial_component.h"
#include "zeltodll.h"

#include <memory>
#include <string>

namespace zelto::cli {

// What a PORT argument may be, for the help of every subcommand that takes one.
extern const char* const PortHelp;

// The serial component a PORT argument names: "sim" is an in-process simulated board, a number is
// a port number as CommPort maps it, a bare name is taken from /dev, anything else is a path.
std::unique_ptr<SerialComponent> componentFor(const std::string& port);

// A board object on PORT with its port opened (the opening handshake has run).
std::unique_ptr<ZeltoDLL> openBoard(const std::string& port);

// "error 8101: No such serial port: /dev/ttyS9 (errno 2)"
std::string describe(const AutomationError& e);

// Prints "zelto: <what>: error n: text" on standard error and returns the exit status 1.
int report(const std::string& what, const AutomationError& e);

} // namespace zelto::cli
