#pragma once

#include "encoding.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace zelto {

using Millis = std::chrono::milliseconds;

// The serial port the board object talks through: exactly the operations the board object uses.
// Every operation may raise an AutomationError of the component's own.
class SerialComponent {
  public:
    virtual ~SerialComponent() = default;

    virtual int16_t commPort() const = 0;
    virtual void setCommPort(int16_t port) = 0;

    virtual bool portOpen() const = 0;
    virtual void setPortOpen(bool open) = 0;

    // The clear-to-send line. When it is low and maxWait is positive, waits in the operating system
    // up to maxWait for it to rise before answering; a port without modem lines reports it
    // asserted.
    virtual bool ctsHolding(Millis maxWait = Millis{0}) = 0;

    // True when the far end of the port holds written bytes while clear-to-send is low (a port on
    // another machine whose server's UART does the flow control): a command need not wait here
    // for the line, which is reported late.
    virtual bool farEndWaitsForCts() const { return false; }

    // Writes the bytes, in order, as one write.
    virtual void setOutput(const Bytes& bytes) = 0;

    // At most one received byte; empty when none has arrived. When none is waiting and maxWait is
    // positive, waits in the operating system up to maxWait for one.
    virtual Bytes input(Millis maxWait = Millis{0}) = 0;

    // Line set-up, used once when the board object is created.
    virtual void setDTREnable(bool enable) = 0;
    virtual void setHandshaking(int16_t mode) = 0; // 2: hardware RTS/CTS
    virtual void setInputLen(int16_t length) = 0;
    virtual void setRTSEnable(bool enable) = 0;
    virtual void setSettings(const std::string& settings) = 0; // e.g. "57600,N,8,1"
    virtual void setSThreshold(int16_t threshold) = 0;

    // A wait that looks at the line every slice starts or ends; they pair and may nest. A system
    // whose short sleeps are coarse makes them fine in between.
    virtual void beginWait() {}
    virtual void endWait() {}
};

// Holds a component's fine waiting from the first hold() to the end of the scope, so that a wait
// that ends at once costs nothing.
class FineWait {
  public:
    explicit FineWait(SerialComponent& comm) : m_comm(comm) {}
    ~FineWait() {
        if (m_held)
            m_comm.endWait();
    }
    FineWait(const FineWait&) = delete;
    FineWait& operator=(const FineWait&) = delete;

    void hold() {
        if (!m_held)
            m_comm.beginWait();
        m_held = true;
    }

  private:
    SerialComponent& m_comm;
    bool m_held = false;
};

// The host's message processing: one pass over the calling thread's pending messages.
class MessagePump {
  public:
    virtual ~MessagePump() = default;
    virtual void pumpOnce() = 0;
    // Pauses up to `most`; a pump that can tell ends the pause as soon as a message arrives.
    virtual void idle(Millis most) { std::this_thread::sleep_for(most); }
};

// The serial component of the platform the library was built for. The platform library (posix/,
// win32/) defines it, and with it the board object's default constructor.
std::unique_ptr<SerialComponent> makeSystemSerialComponent();

} // namespace zelto
