// The end-to-end rig under Wine: the registered server by dispatch identifier, over Wine's serial
// stack to the simulator on COM1. faults.sh serves the simulator and carries out the control lines
// this process appends to ZELTO_SIM_CONTROL ("kill", "start" or a simulator command); the
// simulator's log is ZELTO_SIM_LOG, ZELTO_MODEM_LINES is "1" when the test library that emulates
// the modem lines and fails reads is preloaded into this process, and ZELTO_READ_FAULT_FILE arms
// it.

#include "errors.h"
#include "sim_rig.h"
#include "win_test_util.h"

#include <atomic>

namespace zelto::e2e {
namespace {

using namespace wintest;

const auto* const g_env = ::testing::AddGlobalTestEnvironment(new ComApartment);

class ComBoard : public Board {
  public:
    ComBoard() {
        if (FAILED(createRegistered(m_board.put())))
            throw std::runtime_error("the server is not registered");
    }
    Variant call(int32_t id, MemberKind kind, const std::vector<Variant>& args) override {
        std::vector<VARIANT> in;
        for (const Variant& a : args)
            in.push_back(v(a));
        const WORD flags = kind == MemberKind::Method ? M : kind == MemberKind::PropertyGet ? G : P;
        const InvokeResult r = invoke(m_board.get(), id, flags, in);
        for (VARIANT& a : in)
            VariantClear(&a);
        // The runtime's coercion failures, as a scripting client numbers them.
        if (r.hr == DISP_E_OVERFLOW || r.hr == DISP_E_TYPEMISMATCH)
            throw AutomationError(r.hr == DISP_E_OVERFLOW ? err::Overflow : err::TypeMismatch);
        if (FAILED(r.hr))
            throw AutomationError(static_cast<int32_t>(r.number()), r.description());
        return kind == MemberKind::PropertyLet ? Variant() : com::fromVariant(*r.value.get());
    }

  private:
    com::ComPtr<IDispatch> m_board;
};

std::function<void()> g_duringTheWait;

void CALLBACK runTheHostCode(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    std::exchange(g_duringTheWait, nullptr)();
}

class WinRig : public Rig {
  public:
    std::vector<std::string> ways() const override { return {"COM"}; }
    std::unique_ptr<Board> board(const std::string&) override {
        return std::make_unique<ComBoard>();
    }
    // Waits until faults.sh has carried the line out.
    void control(const std::string& line) override {
        {
            std::ofstream out(onDriveZ(env("ZELTO_SIM_CONTROL")), std::ios::binary | std::ios::app);
            out << line << '\n';
        }
        const int sent = ++m_sent;
        for (int i = 0; i < 500 && std::atoi(readFile("ZELTO_SIM_ACK").c_str()) < sent; ++i)
            Sleep(10);
        if (std::atoi(readFile("ZELTO_SIM_ACK").c_str()) < sent)
            throw std::runtime_error("not done: " + line);
    }
    void forget() override {
        m_mark = readFile("ZELTO_SIM_LOG").size();
        m_taken = 0;
    }
    std::vector<test::LoggedCommand> next(size_t count, Millis limit) override {
        const DWORD start = GetTickCount();
        std::vector<test::LoggedCommand> logged;
        for (;;) {
            const std::string log = readFile("ZELTO_SIM_LOG");
            logged = test::parseLog(log.size() > m_mark ? log.substr(m_mark) : "");
            if (logged.size() >= m_taken + count || GetTickCount() - start >= limit.count())
                break;
            Sleep(5);
        }
        const size_t end = std::min(logged.size(), m_taken + count);
        std::vector<test::LoggedCommand> got(logged.begin() + static_cast<long>(m_taken),
                                             logged.begin() + static_cast<long>(end));
        m_taken = end;
        return got;
    }
    void unplug() override { control("kill"); }
    void plugIn() override { control("start"); }
    bool preloaded() const override { return wintest::linesEmulated(); }
    void failRead(int nth, int error) override {
        std::ofstream(onDriveZ(env("ZELTO_READ_FAULT_FILE")), std::ios::binary)
            << nth << ' ' << error << '\n';
    }
    void duringTheWait(Millis after, std::function<void()> code) override {
        g_duringTheWait = std::move(code);
        SetTimer(nullptr, 0, static_cast<UINT>(after.count()), runTheHostCode);
    }
    double cpuSeconds() const override {
        FILETIME created, ended, kernel, user;
        GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
        const auto ticks = [](FILETIME f) {
            return (static_cast<unsigned long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
        };
        return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
    }

  private:
    std::atomic<int> m_sent{0};
    size_t m_mark = 0;
    size_t m_taken = 0;
};

} // namespace

Rig& rig() {
    static WinRig r;
    return r;
}

} // namespace zelto::e2e
