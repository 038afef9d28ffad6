// The end-to-end rig on Linux: the board object, or the C interface of libostrelzelto.so, on the
// termios component, opening a link that the simulator makes to its pseudo-terminal; clear-to-send
// reaches the process through the modem-line emulation when it is preloaded.

#include "boards.h"
#include "errors.h"
#include "posix_serial.h"
#include "pty_pair.h"
#include "sim_process.h"
#include "sim_rig.h"
#include "zeltodll.h"

#ifdef ZELTO_RIG_NETWORK
#include "network_serial.h"
#include "ser2net.h"
#endif

#include <csignal>
#include <cstring>
#include <ctime>
#include <fstream>

namespace zelto::e2e {
namespace {

using Clock = std::chrono::steady_clock;

// Runs the host code on the first pass of the pump once its time has come.
class TimedPump : public MessagePump {
  public:
    void at(Clock::time_point due, std::function<void()> code) {
        m_due = due;
        m_code = std::move(code);
    }
    void pumpOnce() override {
        if (m_code && Clock::now() >= m_due)
            std::exchange(m_code, nullptr)();
    }

  private:
    Clock::time_point m_due;
    std::function<void()> m_code;
};

class PosixRig : public Rig {
  public:
    PosixRig() : m_lines(m_cts.path()) {
        ::setenv("ZELTO_READ_FAULT_FILE", m_readFault.c_str(), 1);
        plugIn();
    }
    std::vector<std::string> ways() const override { return {"native", "C"}; }
    std::unique_ptr<Board> board(const std::string& way) override {
        if (way == "C")
            return std::make_unique<CBoard>(oz_board_create_device(m_link.c_str()));
        return std::make_unique<NativeBoard>(std::make_unique<PosixSerial>(m_link), &m_pump);
    }
    void control(const std::string& line) override { m_sim->control(line); }
    void forget() override {
        while (m_sim->nextCommand(Millis{0})) {
        }
    }
    std::vector<test::LoggedCommand> next(size_t count, Millis limit) override {
        return m_sim->nextCommands(count, limit);
    }
    void unplug() override { m_sim->kill(SIGKILL); }
    void plugIn() override {
        m_sim.reset();
        m_sim = std::make_unique<sim::SimProcess>(std::vector<std::string>{
            "--link", m_link, "--cts-file", m_cts.path(), "--analog", "0=700"});
    }
    bool preloaded() const override {
        const char* preload = std::getenv("LD_PRELOAD");
        return preload != nullptr && std::strstr(preload, "zeltomodemlines") != nullptr;
    }
    void failRead(int nth, int error) override {
        std::ofstream(m_readFault) << nth << ' ' << error << '\n';
    }
    void duringTheWait(Millis after, std::function<void()> code) override {
        m_pump.at(Clock::now() + after, std::move(code));
    }
    double cpuSeconds() const override {
        timespec t{};
        ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
    }

  protected:
    test::CtsFile m_cts;
    test::EmulatedModemLines m_lines;
    std::string m_link = m_cts.path() + "-tty";
    std::string m_readFault = m_cts.path() + "-read-fault";
    TimedPump m_pump;
    std::unique_ptr<sim::SimProcess> m_sim;
};

#ifdef ZELTO_RIG_NETWORK
// The board object on a port served over the network by ser2net, in front of the simulator's
// pseudo-terminal. Its own process has no modem-line emulation; ser2net has, and reports the
// simulator's clear-to-send.
class NetworkRig : public PosixRig {
  public:
    NetworkRig() : m_server(m_link, m_cts.path(), m_cts.path()) {}
    std::vector<std::string> ways() const override { return {"rfc2217"}; }
    std::unique_ptr<Board> board(const std::string&) override {
        return std::make_unique<NativeBoard>(std::make_unique<NetworkSerial>(m_server.url()),
                                             &m_pump);
    }
    bool preloaded() const override { return false; }
    test::Ser2net& server() { return m_server; }
    const std::string& link() const { return m_link; }

  private:
    test::Ser2net m_server;
};

#endif

} // namespace

#ifdef ZELTO_RIG_NETWORK
Rig& rig() {
    static NetworkRig r;
    return r;
}

test::Ser2net& networkServer() {
    return static_cast<NetworkRig&>(rig()).server();
}

std::string servedDevice() {
    return static_cast<NetworkRig&>(rig()).link();
}
#else
Rig& rig() {
    static PosixRig r;
    return r;
}
#endif

} // namespace zelto::e2e
