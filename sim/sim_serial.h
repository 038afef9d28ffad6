#pragma once

#include "board_model.h"
#include "serial_base.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zelto::sim {

// A serial component joined in-process to a BoardModel: every write is fed to the model and the
// model's reply bytes become the input. It records what a board object does with it and lets a test
// bend the line: clear-to-send, extra or missing replies.
//
// The line rules are SerialBase's, as in every component. Its own behaviour, where a real component
// could differ:
// - Opening and closing keep pending input, so replies queued before opening are read after it.
// - Waits: input(maxWait) with nothing pending waits up to maxWait for a byte (a silent board costs
//   the caller its full wait); ctsHolding(maxWait) with the line low waits at most 1 ms, so a test
//   that raises the line after N polls runs fast. Both wake at once when another thread changes the
//   line or queues a reply.
// All members may be called from any thread. The model is not locked: touch it between calls of
// the board object, or through withModel().
class SimSerial : public SerialBase {
  public:
    explicit SimSerial(std::shared_ptr<BoardModel> model = std::make_shared<BoardModel>());

    const std::shared_ptr<BoardModel>& model() const { return m_model; }
    // Runs f on the model under the component's lock.
    void withModel(const std::function<void(BoardModel&)>& f);

    // SerialComponent
    bool portOpen() const override;
    void setDTREnable(bool enable) override;
    void setHandshaking(int16_t mode) override;
    void setInputLen(int16_t length) override;
    void setRTSEnable(bool enable) override;
    void setSettings(const std::string& settings) override;
    void setSThreshold(int16_t threshold) override;

    // What happened: one entry per successful setOutput call, and the line set-up calls in order
    // as "DTREnable=1", "Handshaking=2", "InputLen=1", "RTSEnable=1", "Settings=57600,N,8,1",
    // "SThreshold=1".
    std::vector<Bytes> writes() const;
    // All written bytes in one string.
    Bytes written() const;
    std::vector<std::string> config() const;
    void clearWrites();
    int inputCalls() const;
    int ctsCalls() const;
    // Received bytes not read yet.
    Bytes pending() const;

    // Controls
    void setCts(bool asserted);
    // Runs at the start of every ctsHolding call with the number of that call (1, 2, ...), without
    // the lock, so it may call setCts.
    void onCtsPoll(std::function<void(int poll)> callback);
    // Bytes that arrive as if the board had sent them, after what is pending.
    void queueReply(const Bytes& bytes);
    // A silent board takes the bytes (the model still sees them) but answers nothing; queued
    // replies still arrive.
    void setSilent(bool silent);

  protected:
    // A subclass fails an opening, write or read by throwing here, before anything changes: the
    // port stays closed, a write reaches neither the record nor the model, a read (already counted
    // in inputCalls()) leaves the pending bytes. They run under the component's lock, so they must
    // not call its members.
    virtual void beforeOpen() {}
    virtual void beforeWrite() {}
    virtual void beforeRead() {}

  private:
    void openPort() override;
    void closePort() override;
    bool readCts(Millis maxWait) override;
    void writeBytes(const Bytes& bytes) override;
    Bytes readBytes(Millis maxWait) override;
    void record(const std::string& call);

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::shared_ptr<BoardModel> m_model;
    std::function<void(int)> m_ctsCallback;
    bool m_open = false;
    bool m_cts = true;
    bool m_silent = false;
    Bytes m_input;
    std::vector<Bytes> m_writes;
    std::vector<std::string> m_config;
    int m_inputCalls = 0;
    int m_ctsCalls = 0;
};

} // namespace zelto::sim
