// zelto ports: the serial ports of the machine.

#include "port_list.h"
#include "subcommands.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>
#include <string>

namespace zelto::cli {
namespace {

struct PortsOptions {
    std::string sysRoot = "/sys";
    std::string devRoot = "/dev";
};

} // namespace

void setupPorts(CLI::App& app, int& status) {
    auto o = std::make_shared<PortsOptions>();
    auto* sub = app.add_subcommand("ports", "List the serial ports and what identifies them");
    sub->add_option("--sysfs", o->sysRoot, "where sysfs is (a copy, for tests)")
        ->capture_default_str();
    sub->add_option("--dev", o->devRoot, "where the device nodes are (a copy, for tests)")
        ->capture_default_str();
    sub->footer(
        R"(For each serial port the kernel knows (sysfs): the device and its port number when it has one,
its stable names in /dev/serial/by-id, the USB vendor and product numbers, serial number,
maker and product, the driver, and whether you may open it, with what to do when not.)");
    sub->callback([o, &status] {
        std::printf("%s", formatPorts(listPorts(o->sysRoot, o->devRoot)).c_str());
        status = 0;
    });
}

} // namespace zelto::cli
