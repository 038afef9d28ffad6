// The benchmarks of the board object. Every figure is printed as a ratio against a baseline
// measured in the same run, against the same simulated board on a real pseudo-terminal.
//
//   zelto-bench roundtrip    a2d calls per second: board object, raw termios floor, python peer
//   zelto-bench com-roundtrip the same through the automation server under Wine, against the floor
//   zelto-bench reply-wait   CPU and lateness while a member waits 200 ms for a late reply
//   zelto-bench cts-wait     the same while the link waits 200 ms for clear-to-send (needs the
//                            modem-line emulation preloaded)
//   zelto-bench pacing       1000 high calls against a board paced at 57600 baud
//   zelto-bench wine-waits   the waits and the round trip under Wine, as they are and as they
//                            were (bench_wine_waits.cpp)
//   zelto-bench network      the round trip through ser2net over RFC 2217, against python3-serial's
//                            client and the local pseudo-terminal
//
// Environment: ZELTO_BENCH_CALLS (round-trip calls per round, 1000), ZELTO_BENCH_ROUNDS (rounds
// per figure, 7; the round trip runs six times as many), ZELTO_BENCH_PYTHON (the interpreter with

#include "bench_common.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

int main(int argc, char** argv) {
    using namespace zelto::bench;
    const std::string what = argc > 1 ? argv[1] : "";
    g_self = argv[0];
    try {
        if (what == "board-a2d" && argc == 4)
            boardA2d(argv[2], std::atol(argv[3]));
        else if (what == "roundtrip")
            roundTrip();
        else if (what == "com-roundtrip")
            comRoundTrip();
        else if (what == "reply-wait")
            replyWait();
        else if (what == "cts-wait")
            ctsWait();
        else if (what == "pacing")
            pacing();
        else if (what == "wine-waits")
            wineWaits();
        else if (what == "network")
            networkRoundTrip();
        else {
            std::fprintf(stderr,
                         "usage: zelto-bench "
                         "roundtrip|com-roundtrip|reply-wait|cts-wait|pacing|wine-waits|network\n");
            return 2;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zelto-bench %s: %s\n", what.c_str(), e.what());
        return 1;
    }
    std::fflush(stdout);
    return 0;
}
