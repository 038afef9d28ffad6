#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace zelto {

// Error numbers raised by the board object. A client sees number n as the status 0x800A0000 + n.
namespace err {
inline constexpr int32_t InvalidArgument = 5;
inline constexpr int32_t Overflow = 6;
inline constexpr int32_t OutOfMemory = 7;
inline constexpr int32_t TypeMismatch = 13;
inline constexpr int32_t Interrupted = 18;
inline constexpr int32_t InternalError = 51;
inline constexpr int32_t DeviceUnavailable = 68;
inline constexpr int32_t InvalidUseOfNull = 94;
inline constexpr int32_t SetNotPermitted = 387;
inline constexpr int32_t GetNotSupported = 393;
inline constexpr int32_t NoSuchMember = 438;
inline constexpr int32_t WrongArgumentCount = 450;

// The serial component's own failures.
inline constexpr int32_t NoSuchPort = 8101;
inline constexpr int32_t PortInUse = 8102;
inline constexpr int32_t PermissionDenied = 8103;
inline constexpr int32_t PortNotOpen = 8104;
inline constexpr int32_t DeviceGone = 8105;
inline constexpr int32_t PortIoError = 8106;
inline constexpr int32_t InvalidPortNumber = 8107;
inline constexpr int32_t PortAlreadyOpen = 8108;

// The board kept clear-to-send low (or the link claimed) for longer than the link-wait limit.
inline constexpr int32_t LinkTimeout = 8120;
} // namespace err

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
