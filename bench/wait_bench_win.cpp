// The Windows side of the wine-waits benchmark (wine_waits.cpp): what a wait costs under Wine,
// for the board object in the registered server, called late-bound by DISPID (its pump present),
// and in this process with and without a pump, each with the waits as they are and with today's
// (no raised timer resolution, a plain sleep between pump passes), side by side.
//
//   zelto-wait-bench.exe reply ROUNDS PID   a2d(0) against a board that answers 200 ms late
//   zelto-wait-bench.exe cts ROUNDS PID     high(0) while clear-to-send rises after 200 ms
//   zelto-wait-bench.exe a2d CALLS          a2d(0) round trips, microseconds per call
//
// PID is the wineserver's Unix process; CPU is this process's and the wineserver's, read from
// /proc through drive Z:. A wait prints one line per contender, "name|CPU ms|late ms" (medians);
// the lateness counts from the end of the delay or from the line's change, which this program
// makes itself through ZELTO_CTS_FILE (the modem-line emulation reads it); the change counts from
// the end of that file's replacement, so a wake is if anything understated by up to one look.

#include "late_bound_win.h"
#include "member_table.h"
#include "win32_message_pump.h"
#include "win32_wait_calls.h"
#include "zeltodll.h"

#include <windows.h>

#include <oleauto.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kWait = std::chrono::milliseconds(200);

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "zelto-wait-bench: %s\n", what.c_str());
    std::exit(1);
}

// Today's waits: no raised resolution, and a plain sleep for the pump's pause.
UINT WINAPI noPeriod(UINT) {
    return 0;
}
DWORD WINAPI sleepingPause(DWORD, const HANDLE*, DWORD ms, DWORD, DWORD) {
    Sleep(ms);
    return WAIT_TIMEOUT;
}

// The CPU time of Unix processes, all their threads, in ms. The files are opened before a
// measurement so that each look is a read at offset 0.
class UnixCpu {
  public:
    explicit UnixCpu(const std::vector<std::string>& pids) {
        for (const std::string& pid : pids) {
            const std::string dir = "Z:\\proc\\" + pid + "\\task\\";
            WIN32_FIND_DATAA f;
            const HANDLE find = FindFirstFileA((dir + "*").c_str(), &f);
            if (find == INVALID_HANDLE_VALUE)
                fail("cannot list " + dir);
            do {
                if (f.cFileName[0] == '.')
                    continue;
                const HANDLE h =
                    CreateFileA((dir + f.cFileName + "\\schedstat").c_str(), GENERIC_READ,
                                FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
                if (h != INVALID_HANDLE_VALUE)
                    m_files.push_back(h);
            } while (FindNextFileA(find, &f));
            FindClose(find);
        }
    }
    ~UnixCpu() {
        for (HANDLE h : m_files)
            CloseHandle(h);
    }
    UnixCpu(const UnixCpu&) = delete;
    UnixCpu& operator=(const UnixCpu&) = delete;

    double ms() const {
        double ns = 0;
        for (HANDLE h : m_files) {
            char text[128] = {};
            DWORD got = 0;
            OVERLAPPED at{};
            if (ReadFile(h, text, sizeof text - 1, &got, &at))
                ns += std::strtod(text, nullptr);
        }
        return ns / 1e6;
    }

  private:
    std::vector<HANDLE> m_files;
};

void setCts(bool asserted) {
    const char* file = std::getenv("ZELTO_CTS_FILE");
    if (file == nullptr)
        fail("ZELTO_CTS_FILE is not set");
    std::string path = std::string("Z:") + file;
    std::replace(path.begin(), path.end(), '/', '\\');
    const std::string tmp = path + ".w";
    const HANDLE h = CreateFileA(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD put = 0;
    if (h == INVALID_HANDLE_VALUE || !WriteFile(h, asserted ? "1" : "0", 1, &put, nullptr))
        fail("cannot write " + tmp);
    CloseHandle(h);
    if (!MoveFileExA(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
        fail("cannot replace " + path);
}

// The registered server's object on COM1; the calls take pin 0.
class ComBoard : public zelto::bench::LateBound {
  public:
    void open(bool open) { put(zelto::dispid::portopen, zelto::bench::variantOf(open)); }
    long call(DISPID id) {
        VARIANT pin = zelto::bench::variantOf(LONG{0});
        const VARIANT result = invoke(id, DISPATCH_METHOD, &pin);
        return V_VT(&result) == VT_I4 ? V_I4(&result) : 0;
    }
};

struct Contender {
    const char* name;
    bool com;
    bool pump;
    bool today;
};
constexpr Contender kContenders[] = {
    {"late-bound, the server's pump", true, true, false},
    {"in process, pump, today's waits", false, true, true},
    {"in process, pump", false, true, false},
    {"in process, no pump, today's waits", false, false, true},
    {"in process, no pump", false, false, false},
};

// Runs `member` (DISPID a2d or high) on a freshly opened board of the contender, timing the call
// that `before` prepares; returns the CPU ms and the ms from the change to the return.
std::function<void(const Contender&, std::vector<double>&, std::vector<double>&)>
waitRunner(DISPID member, const std::vector<std::string>& pids) {
    return [member, pids](const Contender& c, std::vector<double>& cpu, std::vector<double>& late) {
        const zelto::Win32WaitCalls fine = zelto::win32WaitCalls();
        if (c.today)
            zelto::win32WaitCalls() = {noPeriod, noPeriod, Sleep, sleepingPause};
        zelto::Win32MessagePump pump;
        std::unique_ptr<ComBoard> com;
        std::unique_ptr<zelto::ZeltoDLL> board;
        if (c.com) {
            com = std::make_unique<ComBoard>();
            com->open(true);
        } else {
            board = std::make_unique<zelto::ZeltoDLL>(zelto::makeSystemSerialComponent(),
                                                      c.pump ? &pump : nullptr);
            board->portopen(true);
        }
        const bool cts = member == zelto::dispid::high;
        if (cts)
            setCts(false);
        UnixCpu meter(pids);
        Clock::time_point changed{};
        std::thread raiser;
        const double cpu0 = meter.ms();
        const auto start = Clock::now();
        if (cts)
            raiser = std::thread([&] {
                std::this_thread::sleep_for(kWait);
                // The line reads high once the file is replaced, the last step of the write.
                setCts(true);
                changed = Clock::now();
            });
        if (com)
            com->call(member);
        else if (cts)
            board->high(0);
        else
            board->a2d(0);
        const auto end = Clock::now();
        const double cpu1 = meter.ms();
        if (raiser.joinable())
            raiser.join();
        if (!cts)
            changed = start + kWait;
        cpu.push_back(cpu1 - cpu0);
        late.push_back(std::chrono::duration<double, std::milli>(end - changed).count());
        if (com)
            com->open(false);
        board.reset();
        zelto::win32WaitCalls() = fine;
    };
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3)
        fail("usage: zelto-wait-bench reply|cts ROUNDS PID | a2d CALLS");
    const std::string what = argv[1];
    const long n = std::atol(argv[2]);
    if (FAILED(CoInitialize(nullptr)))
        fail("CoInitialize failed");
    constexpr size_t kCount = std::size(kContenders);
    if (what == "a2d") {
        // Round trips with the line asserted: the wait for the link ends at once.
        for (const Contender& c : kContenders) {
            const zelto::Win32WaitCalls fine = zelto::win32WaitCalls();
            if (c.today)
                zelto::win32WaitCalls() = {noPeriod, noPeriod, Sleep, sleepingPause};
            ComBoard com;
            zelto::Win32MessagePump pump;
            zelto::ZeltoDLL board(zelto::makeSystemSerialComponent(), c.pump ? &pump : nullptr);
            if (c.com)
                com.open(true);
            else
                board.portopen(true);
            auto once = [&] { return c.com ? com.call(zelto::dispid::a2d) : board.a2d(0); };
            for (int i = 0; i < 200; ++i)
                once();
            const auto start = Clock::now();
            for (long i = 0; i < n; ++i)
                once();
            const double us =
                std::chrono::duration<double, std::micro>(Clock::now() - start).count() / n;
            std::printf("%s|%.2f\n", c.name, us);
            if (c.com)
                com.open(false);
            zelto::win32WaitCalls() = fine;
        }
    } else if ((what == "reply" || what == "cts") && argc == 4) {
        const std::vector<std::string> pids{"self", argv[3]};
        auto run = waitRunner(what == "cts" ? zelto::dispid::high : zelto::dispid::a2d, pids);
        std::vector<double> cpu[kCount], late[kCount];
        for (long round = 0; round < n; ++round)
            for (size_t i = 0; i < kCount; ++i) {
                // Each round starts with the next contender, so none always goes first.
                const size_t at = (i + static_cast<size_t>(round)) % kCount;
                run(kContenders[at], cpu[at], late[at]);
            }
        for (size_t i = 0; i < kCount; ++i)
            std::printf("%s|%.3f|%.3f\n", kContenders[i].name, median(cpu[i]), median(late[i]));
    } else {
        fail("unknown mode " + what);
    }
    std::fflush(stdout);
    CoUninitialize();
    return 0;
}
