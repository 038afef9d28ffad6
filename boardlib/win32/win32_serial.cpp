#include "win32_serial.h"

#include "errors.h"

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <utility>

namespace zelto {
namespace {

using Clock = std::chrono::steady_clock;

DWORD toMs(Millis wait) {
    if (wait.count() <= 0)
        return 0;
    if (wait.count() >= static_cast<long long>(MAXDWORD - 2))
        return MAXDWORD - 2;
    return static_cast<DWORD>(wait.count());
}

[[noreturn]] void raiseLastError(bool opening) {
    raise(serialErrorNumber(GetLastError(), opening));
}

std::string field(const std::string& text, size_t& pos) {
    const size_t comma = text.find(',', pos);
    std::string part =
        text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    pos = comma == std::string::npos ? text.size() + 1 : comma + 1;
    while (!part.empty() && std::isspace(static_cast<unsigned char>(part.front())))
        part.erase(part.begin());
    while (!part.empty() && std::isspace(static_cast<unsigned char>(part.back())))
        part.pop_back();
    return part;
}

} // namespace

ParsedSettings parseSettings(const std::string& settings) {
    size_t pos = 0;
    const std::string baud = field(settings, pos);
    const std::string parity = field(settings, pos);
    const std::string data = field(settings, pos);
    const std::string stop = field(settings, pos);
    if (pos <= settings.size() || baud.empty() || parity.size() != 1)
        raise(err::InvalidArgument); // missing or extra fields

    char* end = nullptr;
    const unsigned long rate = std::strtoul(baud.c_str(), &end, 10);
    if (*end != '\0' || rate == 0 || rate > 4000000)
        raise(err::InvalidArgument);

    ParsedSettings out{static_cast<DWORD>(rate), NOPARITY, 8, ONESTOPBIT};
    switch (std::toupper(static_cast<unsigned char>(parity[0]))) {
    case 'N':
        out.parity = NOPARITY;
        break;
    case 'E':
        out.parity = EVENPARITY;
        break;
    case 'O':
        out.parity = ODDPARITY;
        break;
    case 'M':
        out.parity = MARKPARITY;
        break;
    case 'S':
        out.parity = SPACEPARITY;
        break;
    default:
        raise(err::InvalidArgument);
    }
    if (data.size() != 1 || data[0] < '4' || data[0] > '8')
        raise(err::InvalidArgument);
    out.dataBits = static_cast<BYTE>(data[0] - '0');
    if (stop == "1")
        out.stopBits = ONESTOPBIT;
    else if (stop == "1.5")
        out.stopBits = ONE5STOPBITS;
    else if (stop == "2")
        out.stopBits = TWOSTOPBITS;
    else
        raise(err::InvalidArgument);
    return out;
}

int32_t serialErrorNumber(DWORD code, bool opening) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
        return opening ? err::NoSuchPort : err::DeviceGone;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        // A COM port that exists but refuses to open is nearly always held by another program.
        return opening ? err::PortInUse : err::DeviceGone;
    case ERROR_PRIVILEGE_NOT_HELD:
        return err::PermissionDenied;
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_NOT_READY:   // Wine, once the other end of a pseudo-terminal has gone
    case ERROR_BROKEN_PIPE: // Wine's reads, likewise
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_INVALID_HANDLE:
    case ERROR_OPERATION_ABORTED:
        return err::DeviceGone;
    default:
        return err::PortIoError;
    }
}

Win32Serial::~Win32Serial() {
    if (portOpen())
        close();
}

void Win32Serial::setCommPort(int16_t port) {
    if (port < 1 || port > 255)
        raise(err::InvalidPortNumber);
    if (portOpen())
        raise(err::PortAlreadyOpen);
    m_port = port;
}

void Win32Serial::setPortOpen(bool open) {
    if (open) {
        if (portOpen())
            raise(err::PortAlreadyOpen);
        this->open();
    } else if (portOpen()) {
        close();
    }
}

void Win32Serial::open() {
    // The \\.\ form reaches COM10 and above too. Not overlapped: every call here waits for its
    // own operation, and Wine serves an overlapped read or write through its server at many times
    // the cost of the exchange itself.
    const std::wstring path = L"\\\\.\\COM" + std::to_wstring(m_port);
    m_handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (m_handle == INVALID_HANDLE_VALUE)
        raiseLastError(true);
    try {
        SetupComm(m_handle, 4096, 4096);
        applyLine();
        m_readTimeout = MAXDWORD - 1;
        m_noModemLines = false;
        setReadTimeout(0);
        PurgeComm(m_handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
    } catch (...) {
        CloseHandle(std::exchange(m_handle, INVALID_HANDLE_VALUE));
        throw;
    }
}

void Win32Serial::close() {
    CloseHandle(std::exchange(m_handle, INVALID_HANDLE_VALUE));
}

void Win32Serial::applyLine() {
    if (!portOpen())
        return;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(m_handle, &dcb))
        raiseLastError(false);
    dcb.BaudRate = m_line.baud;
    dcb.ByteSize = m_line.dataBits;
    dcb.Parity = m_line.parity;
    dcb.StopBits = m_line.stopBits;
    dcb.fBinary = TRUE;
    dcb.fParity = m_line.parity != NOPARITY;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    dcb.fDtrControl = m_dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    const bool rtsCts = m_handshaking == 2 || m_handshaking == 3;
    const bool xonXoff = m_handshaking == 1 || m_handshaking == 3;
    dcb.fOutxCtsFlow = rtsCts;
    if (rtsCts)
        dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    else
        dcb.fRtsControl = m_rts ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    dcb.fOutX = xonXoff;
    dcb.fInX = xonXoff;
    if (!SetCommState(m_handle, &dcb))
        raiseLastError(false);
}

void Win32Serial::requireOpen() const {
    if (!portOpen())
        raise(err::PortNotOpen);
}

void Win32Serial::setReadTimeout(DWORD ms) {
    if (ms == m_readTimeout)
        return;
    COMMTIMEOUTS t{};
    if (ms == 0) {
        t.ReadIntervalTimeout = MAXDWORD; // return at once with what has arrived
    } else {
        // One byte is asked for, so the total timeout bounds the wait for the first byte (Wine
        // waits for the whole count in the MAXDWORD/MAXDWORD mode; asking for one avoids that).
        t.ReadTotalTimeoutConstant = ms;
    }
    t.WriteTotalTimeoutConstant = kWriteTimeoutMs;
    if (!SetCommTimeouts(m_handle, &t))
        raiseLastError(false);
    m_readTimeout = ms;
}

bool Win32Serial::ctsHolding(Millis maxWait) {
    requireOpen();
    if (m_noModemLines)
        return true;
    const auto deadline = Clock::now() + maxWait;
    for (;;) {
        DWORD status = 0;
        if (!GetCommModemStatus(m_handle, &status)) {
            // A port without modem lines (a pseudo-terminal, some virtual ports) counts as
            // asserted, and stays without them while it is open.
            if (GetLastError() == ERROR_NOT_SUPPORTED || GetLastError() == ERROR_INVALID_FUNCTION) {
                m_noModemLines = true;
                return true;
            }
            raiseLastError(false);
        }
        if (status & MS_CTS_ON)
            return true;
        if (Clock::now() >= deadline)
            return false;
        // A comm-event wait would need an overlapped handle; a sample a millisecond answers as
        // soon.
        Sleep(1);
    }
}

void Win32Serial::setOutput(const Bytes& bytes) {
    requireOpen();
    if (bytes.empty())
        return;
    DWORD written = 0;
    const auto size = static_cast<DWORD>(bytes.size());
    if (!WriteFile(m_handle, bytes.data(), size, &written, nullptr))
        raiseLastError(false);
    // Held back by flow control for longer than the write timeout.
    if (written != size)
        raise(err::LinkTimeout);
}

Bytes Win32Serial::input(Millis maxWait) {
    requireOpen();
    setReadTimeout(toMs(maxWait));
    char byte = 0;
    DWORD got = 0;
    if (!ReadFile(m_handle, &byte, 1, &got, nullptr))
        raiseLastError(false);
    return got == 1 ? Bytes(1, byte) : Bytes{};
}

void Win32Serial::setDTREnable(bool enable) {
    m_dtr = enable;
    applyLine();
}

void Win32Serial::setHandshaking(int16_t mode) {
    if (mode < 0 || mode > 3)
        raise(err::InvalidArgument);
    m_handshaking = mode;
    applyLine();
}

void Win32Serial::setInputLen(int16_t length) {
    if (length < 0)
        raise(err::InvalidArgument);
    m_inputLen = length; // reads are one byte at a time whatever the length
}

void Win32Serial::setRTSEnable(bool enable) {
    m_rts = enable;
    applyLine();
}

void Win32Serial::setSettings(const std::string& settings) {
    m_line = parseSettings(settings);
    applyLine();
}

void Win32Serial::setSThreshold(int16_t threshold) {
    if (threshold < 0)
        raise(err::InvalidArgument);
    m_sThreshold = threshold; // every burst is one write whatever the threshold
}

std::unique_ptr<SerialComponent> makeSystemSerialComponent() {
    return std::make_unique<Win32Serial>();
}

} // namespace zelto
