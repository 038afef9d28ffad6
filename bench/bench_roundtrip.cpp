// The round trip: a2d calls per second of the board object, the raw termios floor, a python peer
// with python3-serial and the same through the Python package, each in a process of its own.

#include "bench_common.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <stdexcept>

namespace zelto::bench {

// The board object's side of the round trip: prints the ns per call and the last answer.
void boardA2d(const std::string& device, long calls) {
    auto b = openBoard(device);
    for (int i = 0; i < 200; ++i) // warm-up, as the others
        b->a2d(0);
    int32_t value = 0;
    const auto start = Clock::now();
    const std::clock_t cpu = std::clock();
    for (long i = 0; i < calls; ++i) {
        value = b->a2d(0);
        if (b->errflag())
            throw std::runtime_error("a reply was lost");
    }
    const double cpuNs = static_cast<double>(std::clock() - cpu) * 1e9 / CLOCKS_PER_SEC;
    const double ns = seconds(Clock::now() - start) * 1e9 / static_cast<double>(calls);
    std::printf("%.1f %d %.1f\n", ns, value, cpuNs / static_cast<double>(calls));
}

void roundTrip() {
    const long calls = envNumber("ZELTO_BENCH_CALLS", 1000);
    const int rounds = 6 * kRounds;
    const char* python = std::getenv("ZELTO_BENCH_PYTHON");
    const std::string interpreter = python != nullptr && *python ? python : "/usr/bin/python3";
    SimProcess sim = startSim({"--analog", "0=" + std::to_string(kAnalog)});
    // The package of the source tree on the shared library of this build.
    ::setenv("PYTHONPATH", ZELTO_PYTHON_DIR, 1);
    ::setenv("OSTRELZELTO_LIBRARY", ZELTO_CAPI_PATH, 1);

    auto floorRun = [&] { return floorA2d(sim.device(), calls); };
    // The board object runs in a process of its own too, started the same way as the others.
    auto boardRun = [&] {
        auto b = runProgram({g_self, "board-a2d", sim.device(), std::to_string(calls)});
        if (b.size() != 3 || b[1] != kAnalog)
            throw std::runtime_error("the board object got a wrong answer");
        return Call{b[0] / 1e3, b[2] / 1e3};
    };
    auto peer = [&](const std::vector<std::string>& how) {
        std::vector<std::string> args{interpreter, ZELTO_PEER_SCRIPT, sim.device(),
                                      std::to_string(calls)};
        args.insert(args.end(), how.begin(), how.end());
        auto p = runProgram(args);
        if (p.size() != 3 || p[1] != kAnalog)
            throw std::runtime_error("a python peer got a wrong answer");
        return Call{p[0] / 1e3, p[2] / 1e3};
    };
    auto peerRun = [&] { return peer({}); };
    auto packageRun = [&] { return peer({"package"}); };
    enum { Floor, Board, Peer, Package };
    const auto r = inTurns(rounds, {floorRun, boardRun, peerRun, packageRun});
    const double fl = medianTime(r, Floor), bo = medianTime(r, Board), py = medianTime(r, Peer),
                 pk = medianTime(r, Package);
    const double boardToFloor = medianRatio(r, Board, Floor);
    const double peerToBoard = medianRatio(r, Peer, Board);
    const double packageToPeer = medianRatio(r, Package, Peer);
    const double packageToFloor = medianRatio(r, Package, Floor);
    const double floorCpu = medianCpu(r, Floor), boardCpu = medianCpu(r, Board),
                 peerCpu = medianCpu(r, Peer), packageCpu = medianCpu(r, Package);
    std::printf("Round trip: a2d(0) over a pseudo-terminal to zelto-sim, %d rounds of %ld calls "
                "(medians; ratios are medians of each round's ratio)\n",
                rounds, calls);
    std::printf("  %-26s %8.1f us/call %8.0f calls/s   1.00\n", "raw termios (floor)", fl,
                1e6 / fl);
    std::printf("  %-26s %8.1f us/call %8.0f calls/s   %.2f x the floor's time per call "
                "(target <= 1.20: %s)\n",
                "board object (native)", bo, 1e6 / bo, boardToFloor, verdict(boardToFloor <= 1.2));
    std::printf("  %-26s %8.1f us/call %8.0f calls/s   %.2f x the board object's time per call "
                "(target: the board object faster, > 1.00: %s)\n",
                "python3-serial peer", py, 1e6 / py, peerToBoard, verdict(peerToBoard > 1));
    std::printf("  %-26s %8.1f us/call %8.0f calls/s   %.2f x the python3-serial peer's time per "
                "call (target <= 1.00: %s), %.2f x the floor's\n",
                "python package", pk, 1e6 / pk, packageToPeer, verdict(packageToPeer <= 1),
                packageToFloor);
    std::printf("  process CPU per call: floor %.1f us, board object %.1f us (%.2f x the floor), "
                "python peer %.1f us (%.2f x the board object), python package %.1f us (%.2f x "
                "the python peer)\n",
                floorCpu, boardCpu, boardCpu / floorCpu, peerCpu, peerCpu / boardCpu, packageCpu,
                packageCpu / peerCpu);
}

} // namespace zelto::bench
