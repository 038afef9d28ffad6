// Opens the board on a serial port and prints the reading of analog input 0.
// Usage: read_a2d PORT, where PORT is a device path (/dev/ttyUSB0) or a number (1 is /dev/ttyS0).
#include <ostrelzelto/posix_serial.h>
#include <ostrelzelto/zeltodll.h>

#include <iostream>
#include <memory>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: read_a2d DEVICE-PATH|PORT-NUMBER\n";
        return 2;
    }
    try {
        auto port = std::make_unique<zelto::PosixSerial>();
        const std::string where = argv[1];
        if (where.find('/') == std::string::npos)
            port->setCommPort(static_cast<int16_t>(std::stoi(where)));
        else
            port->setDevicePath(where);
        zelto::ZeltoDLL board(std::move(port));
        board.portopen(true);
        const int32_t value = board.a2d(0);
        if (board.errflag()) {
            std::cerr << "the board did not answer\n";
            return 1;
        }
        std::cout << "a2d(0) = " << value << '\n';
        return 0;
    } catch (const zelto::AutomationError& e) {
        std::cerr << "error " << e.number() << ": " << e.what() << '\n';
    } catch (const std::exception&) {
        std::cerr << "bad port " << argv[1] << '\n';
    }
    return 1;
}
