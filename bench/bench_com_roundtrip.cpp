#include "bench_common.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace zelto::bench {

// The same exchange through the automation server under Wine: a late-bound Windows client
// (com_roundtrip.cpp) calls a2d(0) on COM1, which the prefix maps to ZELTO_COM_LINK; the
// simulator serves its pseudo-terminal there. ZELTO_COM_CLIENT is the command that runs the
// client under Wine (words separated by blanks).
void comRoundTrip() {
    const char* link = std::getenv("ZELTO_COM_LINK");
    const char* client = std::getenv("ZELTO_COM_CLIENT");
    if (link == nullptr || client == nullptr)
        throw std::runtime_error("com-roundtrip needs ZELTO_COM_LINK and ZELTO_COM_CLIENT");
    const long calls = envNumber("ZELTO_BENCH_CALLS", 1000);
    SimProcess sim = startSim({"--link", link, "--analog", "0=" + std::to_string(kAnalog)});
    std::vector<std::string> clientArgs;
    for (const char* at = client; *at != '\0';) {
        const char* end = std::strchr(at, ' ');
        const std::string word = end ? std::string(at, end) : std::string(at);
        if (!word.empty())
            clientArgs.push_back(word);
        at = end ? end + 1 : at + word.size();
    }
    clientArgs.push_back(std::to_string(calls));

    auto floorRun = [&] { return floorA2d(sim.device(), calls); };
    // The client times its own calls, after a warm-up: Wine's start-up is not counted.
    auto clientRun = [&](bool raw) {
        std::vector<std::string> args = clientArgs;
        if (raw)
            args.insert(args.end() - 1, "raw");
        auto c = runProgram(args);
        if (c.size() != 2 || c[1] != kAnalog)
            throw std::runtime_error("the Windows client got a wrong answer");
        return Call{c[0] / 1e3, 0};
    };
    enum { Floor, Win32, Com };
    const auto r = inTurns(
        kRounds, {floorRun, [&] { return clientRun(true); }, [&] { return clientRun(false); }});
    const double fl = medianTime(r, Floor), wi = medianTime(r, Win32), co = medianTime(r, Com);
    const double ratio = medianRatio(r, Com, Floor);
    const double overWin32 = medianRatio(r, Com, Win32);
    std::printf("Round trip through the automation server under Wine: a2d(0) by DISPID on COM1, "
                "%d rounds of %ld calls (medians; the ratios are medians of each round's)\n",
                kRounds, calls);
    std::printf("  %-26s %8.1f us/call %8.0f calls/s   1.00\n", "raw termios (floor)", fl,
                1e6 / fl);
    std::printf("  %-26s %8.1f us/call %8.0f calls/s   %.2f x the floor\n", "bare Win32 under Wine",
                wi, 1e6 / wi, wi / fl);
    std::printf("  %-26s %8.1f us/call %8.0f calls/s   %.2f x the floor's time per call "
                "(target <= 2.00: %s), %.2f x the bare Win32 exchange\n",
                "COM object under Wine", co, 1e6 / co, ratio, verdict(ratio <= 2), overWin32);
}

} // namespace zelto::bench
