#include "board_port.h"

#include "network_serial.h"
#include "posix_serial.h"
#include "sim_serial.h"
#include "variant.h"

#include <algorithm>
#include <cstdio>

namespace zelto::cli {

const char* const PortHelp =
    R"(PORT is a device path (/dev/ttyUSB0, /dev/serial/by-id/...), a name in /dev (ttyUSB0), a
port number as CommPort counts them (1 is /dev/ttyS0), or "sim", a simulated board inside
this program. Errors print one line with the error number and text; the exit status is then 1.)";

std::unique_ptr<SerialComponent> componentFor(const std::string& port) {
    if (port == "sim")
        return std::make_unique<sim::SimSerial>();
    if (NetworkSerial::names(port))
        return std::make_unique<NetworkSerial>(port);
    const bool number = !port.empty() && std::all_of(port.begin(), port.end(),
                                                     [](char c) { return c >= '0' && c <= '9'; });
    if (number) {
        auto serial = std::make_unique<PosixSerial>();
        // The automation conversion and the component's own range check, as for CommPort.
        serial->setCommPort(Variant(port).toInteger());
        return serial;
    }
    return std::make_unique<PosixSerial>(port.find('/') == std::string::npos ? "/dev/" + port
                                                                             : port);
}

std::unique_ptr<ZeltoDLL> openBoard(const std::string& port) {
    auto board = std::make_unique<ZeltoDLL>(componentFor(port));
    board->portopen(true);
    return board;
}

std::string describe(const AutomationError& e) {
    return "error " + std::to_string(e.number()) + ": " + e.what();
}

int report(const std::string& what, const AutomationError& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "zelto: %s: %s\n", what.c_str(), describe(e).c_str());
    return 1;
}

} // namespace zelto::cli
