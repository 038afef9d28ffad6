#pragma once

#include "serial_component.h"

namespace zelto {

// One pass of PeekMessage/TranslateMessage/DispatchMessage over the thread's pending messages.
class Win32MessagePump final : public MessagePump {
  public:
    void pumpOnce() override;
};

} // namespace zelto
