#include "win32_serial.h"

#include "errors.h"
#include "win32_wait_calls.h"
#include "zeltodll.h"

#include <chrono>
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

} // namespace

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
    case ERROR_INVALID_FUNCTION: // opened, but not a serial device
        return opening ? err::NoSuchPort : err::PortIoError;
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
        closePort();
    releasePort();
}

bool Win32Serial::claimPort() {
    // The object's existence is the claim, not its ownership: a mutex is re-entrant for its owning
    // thread, and two board objects on one thread must exclude each other too. The name is the
    // port's alone, the same for 32- and 64-bit processes, and the system removes the object with
    // the last handle to it, so the claim also ends with the process.
    const std::wstring name = L"Local\\OstrelZeltoDLL.COM" + std::to_wstring(commPort());
    HANDLE claim = CreateMutexW(nullptr, FALSE, name.c_str());
    if (!claim) {
        if (GetLastError() == ERROR_ACCESS_DENIED) // made by another user's program
            return false;
        raise(err::PortIoError);
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(claim);
        return false;
    }
    m_claim = claim;
    return true;
}

void Win32Serial::releasePort() {
    if (m_claim)
        CloseHandle(std::exchange(m_claim, nullptr));
}

void Win32Serial::openPort() {
    // The \\.\ form reaches COM10 and above too. Not overlapped: every call here waits for its
    // own operation, and Wine serves an overlapped read or write through its server at many times
    // the cost of the exchange itself.
    const std::wstring path = L"\\\\.\\COM" + std::to_wstring(commPort());
    m_handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (m_handle == INVALID_HANDLE_VALUE)
        raiseLastError(true);
    // Wine opens a port mapped to a path that does not exist, and only the first serial request
    // tells that there is no port behind it.
    DCB probe{};
    probe.DCBlength = sizeof probe;
    if (!GetCommState(m_handle, &probe)) {
        const DWORD code = GetLastError();
        CloseHandle(std::exchange(m_handle, INVALID_HANDLE_VALUE));
        raise(serialErrorNumber(code, true));
    }
    try {
        SetupComm(m_handle, 4096, 4096);
        applyLine();
        m_readTimeout = MAXDWORD - 1;
        setReadTimeout(0);
        PurgeComm(m_handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
    } catch (...) {
        CloseHandle(std::exchange(m_handle, INVALID_HANDLE_VALUE));
        throw;
    }
}

void Win32Serial::closePort() {
    CloseHandle(std::exchange(m_handle, INVALID_HANDLE_VALUE));
}

void Win32Serial::applyLine() {
    if (!portOpen())
        return;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(m_handle, &dcb))
        raiseLastError(false);
    const LineSettings& settings = line();
    dcb.BaudRate = static_cast<DWORD>(settings.baud);
    dcb.ByteSize = static_cast<BYTE>(settings.dataBits);
    dcb.Parity = settings.parity == 'E'   ? EVENPARITY
                 : settings.parity == 'O' ? ODDPARITY
                                          : NOPARITY;
    dcb.StopBits = settings.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = settings.parity != 'N';
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    dcb.fDtrControl = dtrEnable() ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    const bool rtsCts = (handshaking() & 2) != 0;
    const bool xonXoff = (handshaking() & 1) != 0;
    dcb.fOutxCtsFlow = rtsCts;
    if (rtsCts)
        dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    else
        dcb.fRtsControl = rtsEnable() ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    dcb.fOutX = xonXoff;
    dcb.fInX = xonXoff;
    if (!SetCommState(m_handle, &dcb))
        raiseLastError(false);
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
    t.WriteTotalTimeoutConstant = static_cast<DWORD>(WriteHeldBackLimit.count());
    if (!SetCommTimeouts(m_handle, &t))
        raiseLastError(false);
    m_readTimeout = ms;
}

bool Win32Serial::readCts(Millis maxWait) {
    const auto deadline = Clock::now() + maxWait;
    FineWait fine(*this);
    for (;;) {
        DWORD status = 0;
        if (!GetCommModemStatus(m_handle, &status)) {
            // A port without modem lines (a pseudo-terminal, some virtual ports) counts as
            // asserted. Asked each time, so that a device gone since is told.
            if (GetLastError() == ERROR_NOT_SUPPORTED || GetLastError() == ERROR_INVALID_FUNCTION)
                return true;
            raiseLastError(false);
        }
        if (status & MS_CTS_ON)
            return true;
        if (Clock::now() >= deadline)
            return false;
        // Sampled, not awaited: Wine never completes a comm-event wait for a line change, and
        // an overlapped handle costs every read and write dearly there. The raised resolution
        // makes the sleep one millisecond rather than a timer tick.
        fine.hold();
        win32WaitCalls().sleep(1);
    }
}

void Win32Serial::beginWait() {
    if (m_waits++ == 0)
        win32WaitCalls().beginPeriod(1);
}

void Win32Serial::endWait() {
    if (--m_waits == 0)
        win32WaitCalls().endPeriod(1);
}

void Win32Serial::writeBytes(const Bytes& bytes) {
    if (bytes.empty())
        return;
    DWORD written = 0;
    const auto size = static_cast<DWORD>(bytes.size());
    if (!WriteFile(m_handle, bytes.data(), size, &written, nullptr))
        raiseLastError(false);
    // Held back by flow control for longer than the write timeout.
    if (written != size)
        writeHeldBack();
}

Bytes Win32Serial::readBytes(Millis maxWait) {
    setReadTimeout(toMs(maxWait));
    char byte = 0;
    DWORD got = 0;
    if (!ReadFile(m_handle, &byte, 1, &got, nullptr))
        raiseLastError(false);
    return got == 1 ? Bytes(1, byte) : Bytes{};
}

std::unique_ptr<SerialComponent> makeSystemSerialComponent() {
    return std::make_unique<Win32Serial>();
}

// The board object's default component is this platform's: the portable core never names one.
ZeltoDLL::ZeltoDLL() : ZeltoDLL(makeSystemSerialComponent()) {}

} // namespace zelto
