#include "zeltodll.h"

#include <thread>

namespace zelto {
namespace {

using Clock = std::chrono::steady_clock;

// The longest a wait sleeps between two looks at the line or the message queue.
constexpr Millis kSlice{1};

Millis remainingUntil(Clock::time_point deadline) {
    const auto now = Clock::now();
    if (now >= deadline)
        return Millis{0};
    return std::chrono::ceil<Millis>(deadline - now);
}

} // namespace

void ZeltoDLL::checkOpen() const {
    if (!m_comm->portOpen())
        raise(err::DeviceUnavailable);
}

void ZeltoDLL::waitForLink() {
    const auto deadline = Clock::now() + m_limits.linkWait;
    // One fine-waiting hold for the whole wait, not one per pass.
    FineWait fine(*m_comm);
    for (;;) {
        // The line is read afresh on every pass, before the link flag.
        const bool cts = m_comm->ctsHolding();
        if (cts && !m_busy)
            return;
        if (Clock::now() >= deadline)
            raise(err::LinkTimeout);
        fine.hold();
        if (m_pump)
            m_pump->pumpOnce();
        // Without a pump nothing else needs this thread: sleep until the line rises.
        if (!cts)
            m_comm->ctsHolding(m_pump ? kSlice : remainingUntil(deadline));
        else if (m_pump)
            m_pump->idle(kSlice);
        else
            std::this_thread::sleep_for(kSlice);
    }
}

ZeltoDLL::Claim ZeltoDLL::claim() {
    checkOpen();
    waitForLink();
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
            received = m_comm->input(remainingUntil(deadline));
        } catch (const std::exception&) {
            m_errflag = true;
            return 0;
        }
        if (!received.empty())
            return byteAt(received, 0);
        if (Clock::now() >= deadline) {
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
    sendcmd(cmd::ok);
    return getbyte() == 51;
}

void ZeltoDLL::resetall() {
    sendcmd(cmd::resetall);
}

int32_t ZeltoDLL::readbyte() {
    return getbyte();
}

int32_t ZeltoDLL::readword() {
    return replyWord(m_limits.reply);
}

} // namespace zelto
