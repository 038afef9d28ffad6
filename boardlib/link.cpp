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
    for (;;) {
        // The line is read afresh on every pass, before the link flag.
        const bool cts = m_comm->ctsHolding();
        if (cts && !m_busy)
            return;
        if (Clock::now() >= deadline)
            raise(err::LinkTimeout);
        if (m_pump)
            m_pump->pumpOnce();
        // Without a pump nothing else needs this thread: sleep until the line rises.
        if (!cts)
            m_comm->ctsHolding(m_pump ? kSlice : remainingUntil(deadline));
        else
            std::this_thread::sleep_for(kSlice);
    }
}

template <typename Writes> void ZeltoDLL::transact(bool hold, Writes&& writes) {
    checkOpen();
    waitForLink();
    m_busy = true;
    try {
        writes();
    } catch (...) {
        // A failed transaction never leaves the link claimed.
        m_busy = false;
        throw;
    }
    if (!hold)
        m_busy = false;
}

void ZeltoDLL::sendcmd(int32_t group, int32_t select, int32_t lowbit, bool hold) {
    transact(hold, [&] {
        m_comm->setOutput(Bytes(1, static_cast<char>(cmdbyte(group, select, lowbit))));
    });
}

void ZeltoDLL::sendcmddata(int32_t group, int32_t select, int32_t lowbit, const Bytes& data,
                           bool hold) {
    transact(hold, [&] { putcmd(group, select, lowbit, data); });
}

void ZeltoDLL::sendvaluecmd(int32_t value, int32_t group, int32_t select, int32_t lowbit,
                            const Bytes& data, bool hold) {
    transact(hold, [&] {
        loadvalue(value);
        putcmd(group, select, lowbit, data);
    });
}

void ZeltoDLL::putcmd(int32_t group, int32_t select, int32_t lowbit, const Bytes& data) {
    m_comm->setOutput(static_cast<char>(cmdbyte(group, select, lowbit)) + data);
}

void ZeltoDLL::loadvalue(int32_t value) {
    const Bytes word = dataword(value);
    putcmd(0, 4 + (value & 1), (value / 256) % 2, word);
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
    m_busy = false;
    return first * 256 + second;
}

bool ZeltoDLL::ok() {
    sendcmd(0, 0, 1, false);
    return getbyte() == 51;
}

void ZeltoDLL::resetall() {
    sendcmd(5, 6, 0, false);
}

int32_t ZeltoDLL::readbyte() {
    return getbyte();
}

int32_t ZeltoDLL::readword() {
    const int32_t first = getbyte();
    const int32_t second = getbyte();
    return first * 256 + second;
}

} // namespace zelto
