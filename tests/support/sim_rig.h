#pragma once

// A board object on the platform's own serial stack, with the simulator program serving the board
// at the far end of a pseudo-terminal: what the end-to-end cases need, as each platform sets it up.

#include "member_table.h"
#include "sim_output.h"
#include "variant.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zelto::e2e {

using Millis = std::chrono::milliseconds;

// One board object, closed when made.
class Board {
  public:
    virtual ~Board() = default;
    // A member by dispatch identifier. A failure throws AutomationError with the number a
    // scripting client sees.
    virtual Variant call(int32_t dispid, MemberKind kind,
                         const std::vector<Variant>& args = {}) = 0;
};

class Rig {
  public:
    virtual ~Rig() = default;
    // The ways into the board object this platform has ("native", "C", "COM"...).
    virtual std::vector<std::string> ways() const = 0;
    virtual std::unique_ptr<Board> board(const std::string& way) = 0;
    // A control command for the simulator; returns when it has carried it out.
    virtual void control(const std::string& line) = 0;
    // What the simulator logged so far is not read; next starts after it.
    virtual void forget() = 0;
    // The next commands the simulator decodes, fewer when one does not come within limit.
    virtual std::vector<test::LoggedCommand> next(size_t count, Millis limit) = 0;
    // The simulator dies, and the device with it; plugIn serves a new one on the same port.
    virtual void unplug() = 0;
    virtual void plugIn() = 0;
    // Whether the test library that emulates the modem lines and fails chosen reads is preloaded
    // into this process: the simulator's clear-to-send and failRead reach it only then.
    virtual bool preloaded() const = 0;
    // The nth read of the port from now that finds bytes waiting fails in the system with the
    // error (an errno) and takes nothing; later reads go through.
    virtual void failRead(int nth, int error) = 0;
    // Host code that the message pump runs once, no sooner than `after` from now, while a member
    // waits.
    virtual void duringTheWait(Millis after, std::function<void()> code) = 0;
    // CPU time this process has used, in seconds.
    virtual double cpuSeconds() const = 0;
};

// The platform's rig, made once for the whole program.
Rig& rig();

} // namespace zelto::e2e
