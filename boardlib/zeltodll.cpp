#include "zeltodll.h"

namespace zelto {

void setUpBoardLine(SerialComponent& comm) {
    comm.setDTREnable(true);
    comm.setHandshaking(2); // hardware flow control on RTS/CTS
    comm.setInputLen(1);
    comm.setRTSEnable(true);
    comm.setSettings("57600,N,8,1");
    comm.setSThreshold(1);
}

ZeltoDLL::ZeltoDLL(std::unique_ptr<SerialComponent> comm, MessagePump* pump, Limits limits)
    : m_comm(std::move(comm)), m_pump(pump), m_limits(limits) {
    if (!m_comm)
        raise(err::DeviceUnavailable);
    setUpBoardLine(*m_comm);
}

ZeltoDLL::~ZeltoDLL() {
    m_ending = true;
    // The member running on another thread sees it at its next slice and leaves.
    while (m_turns.take(m_limits.linkWait) == 0) {
    }
    m_turns.give();
}

int ZeltoDLL::Turns::take(Millis limit) {
    const auto me = std::this_thread::get_id();
    std::unique_lock lock(m_mutex);
    if (!m_free.wait_for(lock, limit, [&] { return m_depth == 0 || m_holder == me; }))
        return 0;
    m_holder = me;
    return ++m_depth;
}

void ZeltoDLL::Turns::give() {
    // Notified under the lock: the destructor, once it has the turn, may end the condition at once.
    const std::lock_guard lock(m_mutex);
    if (--m_depth > 0)
        return;
    m_holder = {};
    m_free.notify_one();
}

void ZeltoDLL::interrupt() noexcept {
    m_staleInput = true;
    ++m_interrupts;
}

bool ZeltoDLL::errflag() const {
    const Turn mine = takeTurn();
    return m_errflag;
}

void ZeltoDLL::errflag(bool New_errflag) {
    const Turn mine = takeTurn();
    m_errflag = New_errflag;
}

int16_t ZeltoDLL::CommPort() const {
    const Turn mine = takeTurn();
    return m_comm->commPort();
}

void ZeltoDLL::CommPort(int16_t New_CommPort) {
    const Turn mine = takeTurn();
    m_comm->setCommPort(New_CommPort);
}

bool ZeltoDLL::portopen() const {
    const Turn mine = takeTurn();
    return m_comm->portOpen();
}

void ZeltoDLL::portopen(bool New_open) {
    const Turn mine = takeTurn();
    m_comm->setPortOpen(New_open);
    if (!New_open)
        return;

    sendcmd(cmd::attention);
    sendcmd(cmd::ok);
    // The board answers 51; bytes before it are stale and dropped, and a missing answer is no
    // error.
    int remaining = 10;
    int16_t reply = 0;
    do {
        reply = getbyte();
        --remaining;
    } while (reply != 51 && remaining != 0);

    pins(m_pins);
    tris(m_tris);
}

bool ZeltoDLL::ready() {
    const Turn mine = takeTurn();
    return m_comm->ctsHolding() && !m_busy;
}

void ZeltoDLL::ready(bool) {
    raise(err::SetNotPermitted);
}

Variant ZeltoDLL::tris() {
    const Turn mine = takeTurn();
    if (m_comm->portOpen()) {
        sendcmd(cmd::readTris);
        m_tris = Variant(getbyte());
    }
    return m_tris;
}

void ZeltoDLL::tris(const Variant& New_tris) {
    const Turn mine = takeTurn();
    m_tris = New_tris;
    if (!m_comm->portOpen())
        return;
    const Bytes data = databyte(m_tris);
    sendcmddata(cmd::setTris(m_tris.toLong()), data);
}

int32_t ZeltoDLL::pins() {
    const Turn mine = takeTurn();
    if (m_comm->portOpen()) {
        sendcmd(cmd::readPins);
        m_pins = getbyte();
    }
    return m_pins;
}

void ZeltoDLL::pins(int32_t New_pins) {
    const Turn mine = takeTurn();
    m_pins = New_pins;
    if (!m_comm->portOpen())
        return;
    sendcmddata(cmd::setPins(m_pins), databyte(m_pins));
}

} // namespace zelto
