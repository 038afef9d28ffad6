#include "sim_serial.h"

#include <algorithm>

namespace zelto::sim {

SimSerial::SimSerial(std::shared_ptr<BoardModel> model) : m_model(std::move(model)) {
    if (!m_model)
        m_model = std::make_shared<BoardModel>();
}

void SimSerial::withModel(const std::function<void(BoardModel&)>& f) {
    std::lock_guard lock(m_mutex);
    f(*m_model);
}

bool SimSerial::portOpen() const {
    std::lock_guard lock(m_mutex);
    return m_open;
}

void SimSerial::openPort() {
    std::lock_guard lock(m_mutex);
    beforeOpen();
    m_open = true;
    m_changed.notify_all();
}

void SimSerial::closePort() {
    std::lock_guard lock(m_mutex);
    m_open = false;
    m_changed.notify_all();
}

bool SimSerial::readCts(Millis maxWait) {
    std::function<void(int)> callback;
    int poll = 0;
    {
        std::lock_guard lock(m_mutex);
        poll = ++m_ctsCalls;
        callback = m_ctsCallback;
    }
    if (callback)
        callback(poll);
    std::unique_lock lock(m_mutex);
    if (!m_cts && maxWait > Millis{0})
        m_changed.wait_for(lock, std::min(maxWait, Millis{1}), [this] { return m_cts; });
    return m_cts;
}

void SimSerial::writeBytes(const Bytes& bytes) {
    std::lock_guard lock(m_mutex);
    beforeWrite();
    m_writes.push_back(bytes);
    Bytes reply = m_model->feed(bytes);
    if (!m_silent && !reply.empty()) {
        m_input += reply;
        m_changed.notify_all();
    }
}

Bytes SimSerial::readBytes(Millis maxWait) {
    std::unique_lock lock(m_mutex);
    ++m_inputCalls;
    beforeRead();
    if (m_input.empty() && maxWait > Millis{0})
        m_changed.wait_for(lock, maxWait, [this] { return !m_input.empty() || !m_open; });
    if (m_input.empty() || !m_open)
        return {};
    Bytes byte = m_input.substr(0, 1);
    m_input.erase(0, 1);
    return byte;
}

void SimSerial::record(const std::string& call) {
    std::lock_guard lock(m_mutex);
    m_config.push_back(call);
}

void SimSerial::setDTREnable(bool enable) {
    SerialBase::setDTREnable(enable);
    record("DTREnable=" + std::to_string(enable ? 1 : 0));
}

void SimSerial::setHandshaking(int16_t mode) {
    SerialBase::setHandshaking(mode);
    record("Handshaking=" + std::to_string(mode));
}

void SimSerial::setInputLen(int16_t length) {
    SerialBase::setInputLen(length);
    record("InputLen=" + std::to_string(length));
}

void SimSerial::setRTSEnable(bool enable) {
    SerialBase::setRTSEnable(enable);
    record("RTSEnable=" + std::to_string(enable ? 1 : 0));
}

void SimSerial::setSettings(const std::string& settings) {
    SerialBase::setSettings(settings);
    record("Settings=" + settings);
}

void SimSerial::setSThreshold(int16_t threshold) {
    SerialBase::setSThreshold(threshold);
    record("SThreshold=" + std::to_string(threshold));
}

std::vector<Bytes> SimSerial::writes() const {
    std::lock_guard lock(m_mutex);
    return m_writes;
}

Bytes SimSerial::written() const {
    std::lock_guard lock(m_mutex);
    Bytes all;
    for (const Bytes& w : m_writes)
        all += w;
    return all;
}

std::vector<std::string> SimSerial::config() const {
    std::lock_guard lock(m_mutex);
    return m_config;
}

void SimSerial::clearWrites() {
    std::lock_guard lock(m_mutex);
    m_writes.clear();
}

int SimSerial::inputCalls() const {
    std::lock_guard lock(m_mutex);
    return m_inputCalls;
}

int SimSerial::ctsCalls() const {
    std::lock_guard lock(m_mutex);
    return m_ctsCalls;
}

Bytes SimSerial::pending() const {
    std::lock_guard lock(m_mutex);
    return m_input;
}

void SimSerial::setCts(bool asserted) {
    std::lock_guard lock(m_mutex);
    m_cts = asserted;
    m_changed.notify_all();
}

void SimSerial::onCtsPoll(std::function<void(int poll)> callback) {
    std::lock_guard lock(m_mutex);
    m_ctsCallback = std::move(callback);
}

void SimSerial::queueReply(const Bytes& bytes) {
    std::lock_guard lock(m_mutex);
    m_input += bytes;
    m_changed.notify_all();
}

void SimSerial::setSilent(bool silent) {
    std::lock_guard lock(m_mutex);
    m_silent = silent;
}

} // namespace zelto::sim
