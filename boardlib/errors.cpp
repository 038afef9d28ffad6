#include "errors.h"

namespace zelto {

std::string errorDescription(int32_t number) {
    switch (number) {
    case err::InvalidArgument:
        return "Invalid procedure call or argument";
    case err::Overflow:
        return "Overflow";
    case err::OutOfMemory:
        return "Out of memory";
    case err::TypeMismatch:
        return "Type mismatch";
    case err::Interrupted:
        return "User interrupt occurred";
    case err::InternalError:
        return "Internal error";
    case err::DeviceUnavailable:
        return "Device unavailable";
    case err::InvalidUseOfNull:
        return "Invalid use of Null";
    case err::SetNotPermitted:
        return "Set not permitted";
    case err::GetNotSupported:
        return "Get not supported at runtime";
    case err::NoSuchMember:
        return "Object doesn't support this property or method";
    case 449:
        return "Argument not optional";
    case err::WrongArgumentCount:
        return "Wrong number of arguments or invalid property assignment";
    case err::NoSuchPort:
        return "No such serial port";
    case err::PortInUse:
        return "Serial port already in use by another program";
    case err::PermissionDenied:
        return "Permission denied opening the serial port";
    case err::PortNotOpen:
        return "Serial port is not open";
    case err::DeviceGone:
        return "Serial device was disconnected";
    case err::PortIoError:
        return "Serial port input/output error";
    case err::InvalidPortNumber:
        return "Invalid serial port number";
    case err::PortAlreadyOpen:
        return "Serial port is already open";
    case err::LinkTimeout:
        return "Timed out waiting for the board to be ready";
    default:
        return "Application-defined or object-defined error";
    }
}

AutomationError::AutomationError(int32_t number)
    : AutomationError(number, errorDescription(number)) {}

AutomationError::AutomationError(int32_t number, const std::string& description)
    : std::runtime_error(description), m_number(number) {}

void raise(int32_t number) {
    throw AutomationError(number);
}

} // namespace zelto
