#include "bench_common.h"

#include <cstdio>
#include <stdexcept>

namespace zelto::bench {

void pacing() {
    constexpr int kCalls = 1000;
    // The high commands, then ok, whose answer tells that the board has taken them all; the
    // simulator sends a lone answer byte at once, so the bytes on the wire are the commands.
    constexpr int kBytes = kCalls + 1;
    const double wire = kBytes * 10.0 / 57600;
    SimProcess sim = startSim({"--pace"});
    std::vector<double> floor, board;
    for (int round = 0; round < kRounds; ++round) {
        auto f = runProgram({ZELTO_FLOOR_PATH, sim.device(), "high", std::to_string(kCalls)});
        if (f.size() != 2 || f[1] != 51)
            throw std::runtime_error("the floor got a wrong answer");
        floor.push_back(f[0] / 1e9);

        auto b = openBoard(sim.device());
        const auto start = Clock::now();
        for (int i = 0; i < kCalls; ++i)
            b->high(0);
        if (!b->ok())
            throw std::runtime_error("the board did not answer ok");
        board.push_back(seconds(Clock::now() - start));
    }
    const double fl = median(floor), bo = median(board);
    std::printf("Wire pacing: %d high calls then ok, zelto-sim --pace (the board takes and sends "
                "one byte per 10 bit times at 57600 baud), median of %d rounds\n",
                kCalls, kRounds);
    std::printf("  %-26s %8.1f ms   1.00\n", "wire time of the bytes", wire * 1e3);
    std::printf("  %-26s %8.1f ms   %.3f x the wire time\n", "raw termios (floor)", fl * 1e3,
                fl / wire);
    std::printf("  %-26s %8.1f ms   %.3f x the wire time (target <= 1.05: %s), %.3f x the "
                "floor\n",
                "board object", bo * 1e3, bo / wire, verdict(bo / wire <= 1.05), bo / fl);
}

} // namespace zelto::bench
