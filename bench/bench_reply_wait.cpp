#include "bench_common.h"

#include <stdexcept>

namespace zelto::bench {

void replyWait() {
    SimProcess sim = startSim({"--analog", "0=" + std::to_string(kAnalog)});
    Contender busy{"busy poll (reads back to back)", {}};
    Contender sleeper{"raw poll() (sleeps until the byte)", {}};
    Contender board{"board object, a2d(0)", {}};
    for (int round = 0; round < kRounds; ++round) {
        sim.control("delay " + std::to_string(kWait.count()));
        {
            RawLine raw(sim.device());
            busy.waits.push_back(measure([&] {
                const auto start = Clock::now();
                raw.put(0x30);
                if (raw.spinRead(2) != kAnalog)
                    throw std::runtime_error("the busy poll got a wrong answer");
                return start + kWait;
            }));
            sleeper.waits.push_back(measure([&] {
                const auto start = Clock::now();
                raw.put(0x30);
                if (raw.pollRead(2) != kAnalog)
                    throw std::runtime_error("the raw poll got a wrong answer");
                return start + kWait;
            }));
        }
        sim.control("delay 0");
        auto b = openBoard(sim.device());
        sim.control("delay " + std::to_string(kWait.count()));
        board.waits.push_back(measure([&] {
            const auto start = Clock::now();
            if (b->a2d(0) != kAnalog || b->errflag())
                throw std::runtime_error("the board object got a wrong answer");
            return start + kWait;
        }));
        sim.control("delay 0");
    }
    printWait("a member waiting 200 ms for a late reply (zelto-sim delay 200; the change is the "
              "moment the delay ends)",
              {busy, sleeper, board}, 1);
}

} // namespace zelto::bench
