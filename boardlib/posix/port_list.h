#pragma once

#include <string>
#include <vector>

namespace zelto {

// A serial port of the machine as the kernel describes it in sysfs.
struct PortInfo {
    std::string device;            // /dev/ttyUSB0
    int portNumber = 0;            // the CommPort number that names it (ttyS devices), else 0
    std::vector<std::string> byId; // its stable names in /dev/serial/by-id
    std::string vendorId, productId, serial, manufacturer, product; // USB devices only
    std::string driver;
    bool mayOpen = false;
    std::string remedy; // what to do when this user may not open it
};

// Every tty with a device behind it under sysRoot/class/tty, except the 8250 placeholders that
// have no UART, with the device nodes and their stable names found under devRoot.
std::vector<PortInfo> listPorts(const std::string& sysRoot, const std::string& devRoot);

// One block per port; a sentence when there is none.
std::string formatPorts(const std::vector<PortInfo>& ports);

} // namespace zelto
