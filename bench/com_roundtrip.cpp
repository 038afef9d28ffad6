// The Windows side of the com-roundtrip benchmark: a late-bound client of the registered server,
// as a script host would be. It creates the object by programmatic identifier, opens COM1 and
// times N calls of a2d(0), each by DISPID through IDispatch::Invoke. As a second baseline, the
// least a Windows program can do for the same exchange: write the byte and read the two answer
// bytes on COM1 with the serial component's line settings and read timeout.
//
//   zelto-com-roundtrip.exe N       prints the ns per call and the last answer
//   zelto-com-roundtrip.exe raw N   the same for the bare Win32 exchange

#include "late_bound_win.h"
#include "member_table.h"

#include <windows.h>

#include <oleauto.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

namespace dispid = zelto::dispid;
using Clock = std::chrono::steady_clock;
using zelto::bench::LateBound;
using zelto::bench::variantOf;

[[noreturn]] void fail(const char* what, HRESULT hr) {
    std::fprintf(stderr, "zelto-com-roundtrip: %s failed (0x%08lX)\n", what,
                 static_cast<unsigned long>(hr));
    std::exit(1);
}

LONG a2d(LateBound& board) {
    VARIANT pin = variantOf(LONG{0});
    const VARIANT result = board.invoke(dispid::a2d, DISPATCH_METHOD, &pin);
    if (V_VT(&result) != VT_I4)
        fail("a2d(0)", E_UNEXPECTED);
    return V_I4(&result);
}

bool errflag(LateBound& board) {
    const VARIANT result = board.invoke(dispid::errflag, DISPATCH_PROPERTYGET);
    return V_VT(&result) == VT_BOOL && V_BOOL(&result) != VARIANT_FALSE;
}

double nsSince(Clock::time_point start, long n) {
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count() /
           static_cast<double>(n);
}

int rawExchange(long n) {
    const HANDLE port = CreateFileW(L"\\\\.\\COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE)
        fail("opening COM1", HRESULT_FROM_WIN32(GetLastError()));
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(port, &dcb);
    dcb.BaudRate = 57600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = TRUE;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    COMMTIMEOUTS timeouts{};
    timeouts.ReadTotalTimeoutConstant = 250;
    timeouts.WriteTotalTimeoutConstant = 5000;
    if (!SetCommState(port, &dcb) || !SetCommTimeouts(port, &timeouts))
        fail("setting up COM1", HRESULT_FROM_WIN32(GetLastError()));
    const char command = 0x30; // a2d(0)
    unsigned char reply[2] = {};
    auto exchange = [&] {
        DWORD moved = 0;
        if (!WriteFile(port, &command, 1, &moved, nullptr) || moved != 1)
            fail("writing", HRESULT_FROM_WIN32(GetLastError()));
        for (unsigned char& byte : reply)
            if (!ReadFile(port, &byte, 1, &moved, nullptr) || moved != 1)
                fail("reading", HRESULT_FROM_WIN32(GetLastError()));
    };
    for (int i = 0; i < 200; ++i) // warm-up, as the others
        exchange();
    const auto start = Clock::now();
    for (long i = 0; i < n; ++i)
        exchange();
    const double ns = nsSince(start, n);
    CloseHandle(port);
    std::printf("%.1f %d\n", ns, reply[0] * 256 + reply[1]);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "raw")
        return rawExchange(std::atol(argv[2]));
    if (argc != 2) {
        std::fprintf(stderr, "usage: zelto-com-roundtrip [raw] N\n");
        return 2;
    }
    const long n = std::atol(argv[1]);
    HRESULT hr = CoInitialize(nullptr);
    if (FAILED(hr))
        fail("CoInitialize", hr);
    {
        LateBound board;
        board.put(dispid::CommPort, variantOf(LONG{1}));
        board.put(dispid::portopen, variantOf(true));
        for (int i = 0; i < 200; ++i) // warm-up, as the floor
            a2d(board);
        LONG value = 0;
        const auto start = Clock::now();
        for (long i = 0; i < n; ++i) {
            value = a2d(board);
            if (errflag(board)) {
                std::fprintf(stderr, "zelto-com-roundtrip: a reply was lost\n");
                return 1;
            }
        }
        const double ns = nsSince(start, n);

        board.put(dispid::portopen, variantOf(false));
        std::printf("%.1f %ld\n", ns, static_cast<long>(value));
    }
    CoUninitialize();
    return 0;
}
