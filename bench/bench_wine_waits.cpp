// zelto-bench wine-waits: the cost of the board object's waits under Wine (wait_bench_win.cpp is
// the Windows side), as they are and as they were, with and without a message pump, and the a2d
// round trip against the native termios floor. Every figure is against a baseline of the same run.
//
// Environment (tools/bench.sh sets it): ZELTO_COM_LINK, the Unix path COM1 of the prefix stands
// for; ZELTO_WAIT_CLIENT, the command that runs the Windows side under Wine (words separated by
// blanks); WINEPREFIX, whose wineserver's CPU is counted with the client's; LD_PRELOAD, the
// modem-line emulation for the client.

#include "bench_common.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace zelto::bench {
namespace {

constexpr double kWaitMs = 200;

// The lines a command prints; throws when it fails.
std::vector<std::string> outputOf(const std::string& command) {
    std::FILE* p = ::popen(command.c_str(), "r");
    if (p == nullptr)
        throw std::runtime_error("cannot run " + command);
    std::vector<std::string> out;
    char line[512];
    while (std::fgets(line, sizeof line, p) != nullptr) {
        std::string l = line;
        while (!l.empty() && (l.back() == '\n' || l.back() == '\r'))
            l.pop_back();
        out.push_back(l);
    }
    if (::pclose(p) != 0)
        throw std::runtime_error(command + " failed");
    return out;
}

// The fields of "a|b|c".
std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    size_t at = 0;
    for (size_t bar; (bar = line.find('|', at)) != std::string::npos; at = bar + 1)
        out.push_back(line.substr(at, bar - at));
    out.push_back(line.substr(at));
    return out;
}

// The wineserver serving the prefix: the process whose program is a wineserver and whose
// environment names the prefix.
std::string wineserverPid(const std::string& prefix) {
    DIR* proc = ::opendir("/proc");
    const std::string want = "WINEPREFIX=" + prefix;
    for (dirent* e; proc != nullptr && (e = ::readdir(proc)) != nullptr;) {
        const std::string pid = e->d_name;
        if (pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream cmd("/proc/" + pid + "/cmdline");
        std::string argv0;
        std::getline(cmd, argv0, '\0');
        if (argv0.find("wineserver") == std::string::npos)
            continue;
        std::ifstream env("/proc/" + pid + "/environ");
        for (std::string var; std::getline(env, var, '\0');)
            if (var == want) {
                ::closedir(proc);
                return pid;
            }
    }
    if (proc != nullptr)
        ::closedir(proc);
    throw std::runtime_error("no wineserver runs for " + prefix);
}

const char* env(const char* name) {
    const char* v = std::getenv(name);
    if (v == nullptr)
        throw std::runtime_error(std::string("wine-waits needs ") + name);
    return v;
}

void writeCts(const std::string& file, bool asserted) {
    std::ofstream(file + ".tmp") << (asserted ? '1' : '0');
    std::rename((file + ".tmp").c_str(), file.c_str());
}

// Prints the contenders of one kind of wait; each today's-waits row is the baseline of the row
// after it.
void printWaits(const char* what, const std::vector<std::string>& lines, int rounds) {
    std::printf("Cost of waiting under Wine: %s, CPU of the client and the wineserver, median of "
                "%d rounds\n",
                what, rounds);
    std::map<std::string, std::pair<double, double>> today;
    for (const std::string& line : lines) {
        const auto f = fields(line);
        if (f.size() != 3)
            throw std::runtime_error("unexpected output: " + line);
        const double cpu = std::stod(f[1]), late = std::stod(f[2]);
        std::printf("  %-36s CPU %7.3f ms = %5.2f %% of the wait; woke %6.3f ms after the change",
                    f[0].c_str(), cpu, 100 * cpu / kWaitMs, late);
        const size_t mark = f[0].find(", today's waits");
        if (mark != std::string::npos) {
            today[f[0].substr(0, mark)] = {cpu, late};
            std::printf("\n");
        } else if (auto t = today.find(f[0]); t != today.end()) {
            std::printf("; %.2f x today's CPU, %+.3f ms against today's wake\n",
                        cpu / t->second.first, late - t->second.second);
        } else {
            std::printf("\n");
        }
    }
}

} // namespace

void wineWaits() {
    const int rounds = kRounds;
    const long calls = envNumber("ZELTO_BENCH_CALLS", 1000);
    const std::string link = env("ZELTO_COM_LINK");
    const std::string client = env("ZELTO_WAIT_CLIENT");
    const std::string server = wineserverPid(env("WINEPREFIX"));
    if (std::strstr(env("LD_PRELOAD"), "zeltomodemlines") == nullptr)
        throw std::runtime_error("wine-waits needs the modem-line emulation in LD_PRELOAD");
    TempDir dir;
    const std::string cts = dir.file("cts");
    writeCts(cts, true);
    ::setenv("ZELTO_CTS_FILE", cts.c_str(), 1);
    SimProcess sim = startSim({"--link", link, "--analog", "0=" + std::to_string(kAnalog)});

    // The round trip: the floor and the Windows side in turns.
    std::map<std::string, std::vector<double>> ratio;
    std::vector<std::string> order;
    for (int round = 0; round < rounds; ++round) {
        const auto fl = outputOf("'" + std::string(ZELTO_FLOOR_PATH) + "' '" + sim.device() +
                                 "' a2d " + std::to_string(calls));
        const double floorUs = fl.empty() ? 0 : std::stod(fl[0]) / 1e3;
        for (const std::string& line : outputOf(client + " a2d " + std::to_string(calls))) {
            const auto f = fields(line);
            if (round == 0)
                order.push_back(f[0]);
            ratio[f[0]].push_back(std::stod(f[1]) / floorUs);
        }
    }
    std::printf("Round trip under Wine: a2d(0) on COM1, %d rounds of %ld calls, each against the "
                "raw termios floor of its round (medians)\n",
                rounds, calls);
    for (const std::string& name : order) {
        auto& v = ratio[name];
        std::sort(v.begin(), v.end());
        std::printf("  %-36s %.2f x the floor's time per call\n", name.c_str(), v[v.size() / 2]);
    }

    const std::string each = " " + std::to_string(rounds) + " " + server;
    sim.control("delay 200");
    printWaits("a member waiting 200 ms for a late reply (zelto-sim delay 200)",
               outputOf(client + " reply" + each), rounds);
    sim.control("delay 0");
    printWaits("the link waiting 200 ms for clear-to-send (the client raises it after 200 ms)",
               outputOf(client + " cts" + each), rounds);
    writeCts(cts, true);
}

} // namespace zelto::bench
