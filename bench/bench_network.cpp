// The round trip over the network: a2d calls of the board object through ser2net over RFC 2217 on
// loopback, against python3-serial's rfc2217:// client through the same server and against the
// board object on the local pseudo-terminal; with ser2net's character delay off and on. Then the
// CPU of a member while the board holds clear-to-send low, which over the network is the server's
// wait and this side's wait for the reply.

#include "bench_common.h"
#include "network_serial.h"
#include "ser2net.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <stdexcept>

namespace zelto::bench {

void networkRoundTrip() {
    if (test::Ser2net::program().empty())
        throw std::runtime_error("ser2net is not installed");
    const long calls = envNumber("ZELTO_BENCH_CALLS", 1000);
    const char* python = std::getenv("ZELTO_BENCH_PYTHON");
    const std::string interpreter = python != nullptr && *python ? python : "/usr/bin/python3";
    TempDir dir;
    const std::string cts = dir.file("cts");
    SimProcess sim = startSim({"--analog", "0=" + std::to_string(kAnalog), "--cts-file", cts});
    for (const char* config : {"direct-ser2net.yaml", "delayed-ser2net.yaml"})
        dir.file(config); // removed with the folder
    test::Ser2net direct(sim.device(), cts, dir.file("direct"), false);
    test::Ser2net delayed(sim.device(), cts, dir.file("delayed"), true);

    auto board = [&](const std::string& device) {
        return [&, device] {
            auto b = runProgram({g_self, "board-a2d", device, std::to_string(calls)});
            if (b.size() != 3 || b[1] != kAnalog)
                throw std::runtime_error("the board object got a wrong answer on " + device);
            return Call{b[0] / 1e3, b[2] / 1e3};
        };
    };
    auto peer = [&] {
        auto p = runProgram({interpreter, ZELTO_PEER_SCRIPT, direct.url(), std::to_string(calls)});
        if (p.size() != 3 || p[1] != kAnalog)
            throw std::runtime_error("the python3-serial peer got a wrong answer");
        return Call{p[0] / 1e3, p[2] / 1e3};
    };
    enum { Local, Network, Delayed, Peer };
    const auto r =
        inTurns(kRounds, {board(sim.device()), board(direct.url()), board(delayed.url()), peer});
    const double lo = medianTime(r, Local), ne = medianTime(r, Network),
                 de = medianTime(r, Delayed), py = medianTime(r, Peer);
    std::printf("Network round trip: a2d(0) through ser2net (RFC 2217, loopback) to zelto-sim, %d "
                "rounds of %ld calls (medians; ratios are medians of each round's ratio)\n",
                kRounds, calls);
    std::printf("  %-34s %8.1f us/call   1.00\n", "board object, local pseudo-terminal", lo);
    std::printf("  %-34s %8.1f us/call   %.2f x the local round trip\n",
                "board object, rfc2217, no chardelay", ne, medianRatio(r, Network, Local));
    std::printf("  %-34s %8.1f us/call   %.2f x without chardelay\n",
                "board object, rfc2217, chardelay", de, medianRatio(r, Delayed, Network));
    const double peerToBoard = medianRatio(r, Peer, Network);
    std::printf("  %-34s %8.1f us/call   %.2f x the board object's time per call (target: the "
                "board object faster, > 1.00: %s)\n",
                "python3-serial rfc2217://", py, peerToBoard, verdict(peerToBoard > 1));
    std::printf("  process CPU per call: board object local %.1f us, over the network %.1f us, "
                "python3-serial %.1f us\n",
                medianCpu(r, Local), medianCpu(r, Network), medianCpu(r, Peer));

    // Clear-to-send low at the board: the command waits in the server, this side for the reply.
    auto b = openBoard(direct.url());
    std::vector<double> shares;
    for (int i = 0; i < kRounds; ++i) {
        sim.control("cts low");
        // The server reports the line about once a second; the reply wait is what is measured.
        const double cpu = processCpuSeconds();
        const auto start = Clock::now();
        b->a2d(0);
        const double wall = seconds(Clock::now() - start);
        shares.push_back((processCpuSeconds() - cpu) / wall);
        sim.control("cts high");
        while (b->readbyte() != 0 || !b->errflag()) {
        }
    }
    const double share = median(shares);
    std::printf("  CPU while the board holds clear-to-send low: %.2f%% of the wait (target <= 1%%: "
                "%s)\n",
                share * 100, verdict(share <= 0.01));
}

} // namespace zelto::bench
