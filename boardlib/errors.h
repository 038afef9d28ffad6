#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace zelto {

// The one list of error numbers, X(number, name, text): the constants below, errorDescription and
// the generated references all read it. A client sees number n as the status 0x800A0000 + n.
// 8101 to 8108 are the serial component's own failures; 8120 is the board keeping clear-to-send
// low (or the link claimed) for longer than the link-wait limit.
#define ZELTO_ERRORS(X)                                                                            \
    X(5, InvalidArgument, "Invalid procedure call or argument")                                    \
    X(6, Overflow, "Overflow")                                                                     \
    X(7, OutOfMemory, "Out of memory")                                                             \
    X(13, TypeMismatch, "Type mismatch")                                                           \
    X(18, Interrupted, "User interrupt occurred")                                                  \
    X(51, InternalError, "Internal error")                                                         \
    X(68, DeviceUnavailable, "Device unavailable")                                                 \
    X(94, InvalidUseOfNull, "Invalid use of Null")                                                 \
    X(387, SetNotPermitted, "Set not permitted")                                                   \
    X(393, GetNotSupported, "Get not supported at runtime")                                        \
    X(438, NoSuchMember, "Object doesn't support this property or method")                         \
    X(449, ArgumentNotOptional, "Argument not optional")                                           \
    X(450, WrongArgumentCount, "Wrong number of arguments or invalid property assignment")         \
    X(8101, NoSuchPort, "No such serial port")                                                     \
    X(8102, PortInUse, "Serial port already in use by another program")                            \
    X(8103, PermissionDenied, "Permission denied opening the serial port")                         \
    X(8104, PortNotOpen, "Serial port is not open")                                                \
    X(8105, DeviceGone, "Serial device was disconnected")                                          \
    X(8106, PortIoError, "Serial port input/output error")                                         \
    X(8107, InvalidPortNumber, "Invalid serial port number")                                       \
    X(8108, PortAlreadyOpen, "Serial port is already open")                                        \
    X(8120, LinkTimeout, "Timed out waiting for the board to be ready")

namespace err {
#define ZELTO_ERROR_CONSTANT(number, name, text) inline constexpr int32_t name = number;
ZELTO_ERRORS(ZELTO_ERROR_CONSTANT)
#undef ZELTO_ERROR_CONSTANT
} // namespace err

struct ErrorEntry {
    int32_t number;
    const char* name;
    const char* text;
};

// Every row of ZELTO_ERRORS, in ascending order of number.
inline constexpr ErrorEntry ErrorList[] = {
#define ZELTO_ERROR_ENTRY(number, name, text) {number, #name, text},
    ZELTO_ERRORS(ZELTO_ERROR_ENTRY)
#undef ZELTO_ERROR_ENTRY
};

// The standard text of an error number, or a generic text for numbers without one.
std::string errorDescription(int32_t number);

class AutomationError : public std::runtime_error {
  public:
    explicit AutomationError(int32_t number);
    AutomationError(int32_t number, const std::string& description);

    int32_t number() const { return m_number; }
    // The failure status a client sees: 0x800A0000 + number.
    uint32_t hresult() const { return 0x800A0000u + static_cast<uint32_t>(m_number & 0xFFFF); }

  private:
    int32_t m_number;
};

[[noreturn]] void raise(int32_t number);

} // namespace zelto
