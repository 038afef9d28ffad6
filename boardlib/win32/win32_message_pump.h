#pragma once

#include "serial_component.h"

namespace zelto {

// One pass of PeekMessage/TranslateMessage/DispatchMessage over the thread's pending messages;
// a pause between passes ends as soon as a message arrives.
class Win32MessagePump final : public MessagePump {
  public:
    void pumpOnce() override;
    void idle(Millis most) override;
};

} // namespace zelto
