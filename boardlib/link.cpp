#include "zeltodll.h"

#include <algorithm>
#include <thread>

namespace zelto {
namespace {

using Clock = std::chrono::steady_clock;

// The longest a wait sleeps between two looks at the line or the message queue.
constexpr Millis kSlice{1};

// The longest a wait stays in the system without the message pump: a board object being destroyed
// on another thread ends it at the next slice.
constexpr Millis kWakeSlice{50};

Millis remainingUntil(Clock::time_point deadline) {
    const auto now = Clock::now();
    if (now >= deadline)
        return Millis{0};
    return std::chrono::ceil<Millis>(deadline - now);
}

} // namespace

ZeltoDLL::Turn ZeltoDLL::takeTurn() const {
    const uint32_t seen = m_interrupts.load();
    const auto deadline = Clock::now() + m_limits.linkWait;
    int depth = 0;
    while ((depth = m_turns.take(std::min(remainingUntil(deadline), kWakeSlice))) == 0) {
        if (m_interrupts.load() != seen)
            raise(err::Interrupted);
        if (Clock::now() >= deadline)
            raise(err::LinkTimeout);
    }
    // A member re-entered from the message pump belongs to the call that it interrupts.
    if (depth == 1)
        m_callInterrupts = seen;
    return Turn(m_turns);
}

void ZeltoDLL::dropStaleInput() {
    if (!m_staleInput.exchange(false))
        return;
    // Bounded: a board that keeps talking cannot hold the caller here.
    constexpr int most = 4096;
    try {
        for (int n = 0; n < most && m_comm->portOpen() && !m_comm->input().empty(); ++n) {
        }
    } catch (const std::exception&) {
        // A read that fails here is the next member's to find.
    }
}

void ZeltoDLL::checkOpen() const {
    if (!m_comm->portOpen())
        raise(err::DeviceUnavailable);
}

void ZeltoDLL::waitForLink() {
    const auto deadline = Clock::now() + m_limits.linkWait;
    // One fine-waiting hold for the whole wait, not one per pass.
    FineWait fine(*m_comm);
    for (;;) {
        if (m_ending)
            raise(err::PortNotOpen);
        if (interrupted())
            raise(err::Interrupted);
        // The line is read afresh on every pass, before the link flag.
        const bool cts = m_comm->ctsHolding() || m_comm->farEndWaitsForCts();
        if (cts && !m_busy)
            return;
        if (Clock::now() >= deadline)
            raise(err::LinkTimeout);
        fine.hold();
        if (m_pump)
            m_pump->pumpOnce();
        // Without a pump nothing else needs this thread: sleep until the line rises.
        if (!cts)
            m_comm->ctsHolding(m_pump ? kSlice : std::min(remainingUntil(deadline), kWakeSlice));
        else if (m_pump)
            m_pump->idle(kSlice);
        else
            std::this_thread::sleep_for(kSlice);
    }
}

ZeltoDLL::Claim ZeltoDLL::claim() {
    checkOpen();
    waitForLink();
    dropStaleInput();
    return Claim(m_busy);
}

ZeltoDLL::Claim ZeltoDLL::sendcmd(cmd::Command command) {
    Claim link = claim();
    putcmd(command, Bytes{});
    return link;
}

ZeltoDLL::Claim ZeltoDLL::sendcmddata(cmd::Command command, const Bytes& data) {
    Claim link = claim();
    putcmd(command, data);
    return link;
}

ZeltoDLL::Claim ZeltoDLL::sendvaluecmd(int32_t value, cmd::Command command, const Bytes& data) {
    Claim link = claim();
    loadvalue(value);
    putcmd(command, data);
    return link;
}

void ZeltoDLL::putcmd(cmd::Command command, const Bytes& data) {
    m_comm->setOutput(static_cast<char>(cmdbyte(command.group, command.select, command.lowbit)) +
                      data);
}

void ZeltoDLL::loadvalue(int32_t value) {
    const Bytes word = dataword(value);
    putcmd(cmd::operandLoad(value), word);
}

int16_t ZeltoDLL::getbyte(Millis limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        m_errflag = false;
        Bytes received;
        try {
            received = m_comm->input(std::min(remainingUntil(deadline), kWakeSlice));
        } catch (const std::exception&) {
            m_errflag = true;
            return 0;
        }
        if (!received.empty())
            return byteAt(received, 0);
        if (interrupted()) {
            m_errflag = true;
            raise(err::Interrupted);
        }
        if (Clock::now() >= deadline || m_ending) {
            m_errflag = true;
            return 0;
        }
    }
}

int32_t ZeltoDLL::replyWord(Millis firstByteLimit) {
    const int32_t first = getbyte(firstByteLimit);
    const int32_t second = getbyte();
    return first * 256 + second;
}

bool ZeltoDLL::ok() {
    const Turn mine = takeTurn();
    sendcmd(cmd::ok);
    return getbyte() == 51;
}

void ZeltoDLL::resetall() {
    const Turn mine = takeTurn();
    sendcmd(cmd::resetall);
}

int32_t ZeltoDLL::readbyte() {
    const Turn mine = takeTurn();
    dropStaleInput();
    return getbyte();
}

int32_t ZeltoDLL::readword() {
    const Turn mine = takeTurn();
    dropStaleInput();
    return replyWord(m_limits.reply);
}

} // namespace zelto
