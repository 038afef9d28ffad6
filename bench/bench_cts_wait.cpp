#include "bench_common.h"

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace zelto::bench {

void ctsWait() {
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload == nullptr || std::strstr(preload, "zeltomodemlines") == nullptr)
        throw std::runtime_error("cts-wait needs the modem-line emulation in LD_PRELOAD");
    TempDir dir;
    const std::string cts = dir.file("cts");
    ::setenv("ZELTO_CTS_FILE", cts.c_str(), 1);
    SimProcess sim = startSim({"--cts-file", cts});
    // The line rises kWait after the wait began; lateness counts from the moment the simulator
    // was told (a little before the line actually changes, so it is overstated if anything).
    auto raiseLater = [&](Clock::time_point& told) {
        return std::thread([&] {
            std::this_thread::sleep_for(kWait);
            told = Clock::now();
            sim.send("cts high");
        });
    };
    Contender busy{"busy poll (reads back to back)", {}};
    Contender sampler{"sampling every 1 ms (sleeping)", {}};
    Contender board{"board object, high(0)", {}};
    for (int round = 0; round < kRounds; ++round) {
        {
            RawLine raw(sim.device());
            sim.control("cts low");
            busy.waits.push_back(measure([&] {
                Clock::time_point told;
                std::thread t = raiseLater(told);
                raw.spinForCts();
                raw.put(0x11);
                t.join();
                return told;
            }));
            sim.control("cts low");
            sampler.waits.push_back(measure([&] {
                Clock::time_point told;
                std::thread t = raiseLater(told);
                raw.sampleForCts(1ms);
                raw.put(0x11);
                t.join();
                return told;
            }));
        }
        auto b = openBoard(sim.device());
        sim.control("cts low");
        board.waits.push_back(measure([&] {
            Clock::time_point told;
            std::thread t = raiseLater(told);
            b->high(0);
            t.join();
            return told;
        }));
        if (!b->ready())
            throw std::runtime_error("the link was left claimed");
    }
    printWait("the link waiting 200 ms for clear-to-send (zelto-sim cts low, then cts high; the "
              "change is the moment the simulator is told)",
              {busy, sampler, board}, 0);
}

} // namespace zelto::bench
