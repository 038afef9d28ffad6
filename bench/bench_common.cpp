#include "bench_common.h"

#include "network_serial.h"

#include "posix_serial.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace zelto::bench {

long envNumber(const char* name, long fallback) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0' ? std::atol(v) : fallback;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double processCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

const char* verdict(bool met) {
    return met ? "met" : "MISSED";
}

std::vector<double> runProgram(const std::vector<std::string>& args) {
    std::string command;
    for (const std::string& a : args)
        command += "'" + a + "' ";
    std::FILE* p = ::popen(command.c_str(), "r");
    if (p == nullptr)
        throw std::runtime_error("cannot run " + args[0]);
    char line[256] = {};
    const bool got = std::fgets(line, sizeof line, p) != nullptr;
    if (::pclose(p) != 0 || !got)
        throw std::runtime_error(args[0] + " failed");
    std::vector<double> out;
    char* at = line;
    for (;;) {
        char* end = nullptr;
        const double v = std::strtod(at, &end);
        if (end == at)
            break;
        out.push_back(v);
        at = end;
    }
    return out;
}

std::unique_ptr<ZeltoDLL> openBoard(const std::string& device) {
    auto board = std::make_unique<ZeltoDLL>(serialComponentFor(device));
    board->portopen(true);
    return board;
}

TempDir::TempDir() {
    char name[] = "/tmp/zelto-bench-XXXXXX";
    if (::mkdtemp(name) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_path = name;
}

TempDir::~TempDir() {
    for (const std::string& f : m_files)
        std::remove(f.c_str());
    ::rmdir(m_path.c_str());
}

std::string TempDir::file(const std::string& name) {
    m_files.push_back(m_path + "/" + name);
    m_files.push_back(m_path + "/" + name + ".tmp");
    return m_files[m_files.size() - 2];
}

Call floorA2d(const std::string& device, long calls) {
    auto f = runProgram({ZELTO_FLOOR_PATH, device, "a2d", std::to_string(calls)});
    if (f.size() != 3 || f[1] != kAnalog)
        throw std::runtime_error("the floor got a wrong answer");
    return Call{f[0] / 1e3, f[2] / 1e3};
}

std::vector<Round> inTurns(int rounds, const std::vector<std::function<Call()>>& runs) {
    std::vector<Round> out;
    for (int round = 0; round < rounds; ++round) {
        Round results(runs.size());
        for (size_t k = 0; k < runs.size(); ++k) {
            const size_t i = (static_cast<size_t>(round) + k) % runs.size();
            results[i] = runs[i]();
        }
        out.push_back(std::move(results));
    }
    return out;
}

double medianOver(const std::vector<Round>& rounds, const std::function<double(const Round&)>& f) {
    std::vector<double> v;
    for (const Round& r : rounds)
        v.push_back(f(r));
    return median(v);
}

double medianTime(const std::vector<Round>& rounds, size_t k) {
    return medianOver(rounds, [k](const Round& r) { return r[k].us; });
}

double medianCpu(const std::vector<Round>& rounds, size_t k) {
    return medianOver(rounds, [k](const Round& r) { return r[k].cpuUs; });
}

double medianRatio(const std::vector<Round>& rounds, size_t a, size_t b) {
    return medianOver(rounds, [a, b](const Round& r) { return r[a].us / r[b].us; });
}

void printWait(const char* what, const std::vector<Contender>& rows, size_t arrival) {
    const double wait = seconds(kWait);
    const Contender& busy = rows.front();
    const Contender& board = rows.back();
    std::printf("Cost of waiting: %s, median of %d rounds\n", what, kRounds);
    for (const Contender& c : rows)
        std::printf("  %-34s CPU %8.3f ms = %6.2f %% of the wait = %.4f x the busy poll's; "
                    "returned %.3f ms after the change\n",
                    c.name, c.cpu() * 1e3, 100 * c.cpu() / wait, c.cpu() / busy.cpu(),
                    c.late() * 1e3);
    const double late = board.late() - rows[arrival].late();
    std::printf("  board object: CPU %.2f %% of the wait (target <= 1 %%: %s); returned %.3f ms "
                "after the %s did (target <= 1 ms: %s)\n",
                100 * board.cpu() / wait, verdict(board.cpu() / wait <= 0.01), late * 1e3,
                rows[arrival].name, verdict(late <= 1e-3));
}

// Measures f, which returns the time point from which its lateness counts.
Wait measure(const std::function<Clock::time_point()>& f) {
    const double cpu0 = processCpuSeconds();
    const Clock::time_point changed = f();
    const auto end = Clock::now();
    return {processCpuSeconds() - cpu0, seconds(end - changed)};
}

} // namespace zelto::bench
