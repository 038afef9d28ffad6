#pragma once

// Small helpers every test suite shares.

#include "encoding.h"
#include "errors.h"
#include "serial_component.h"

#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <utility>

namespace zelto::test {

// The automation error number that f raises, or 0.
inline int32_t errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const AutomationError& e) {
        return e.number();
    }
    return 0;
}

// The host's message pump: counts its passes and runs a piece of host code on the next one, once.
class OncePump : public MessagePump {
  public:
    std::function<void()> once;
    int pumps = 0;
    void pumpOnce() override {
        ++pumps;
        if (auto f = std::exchange(once, nullptr))
            f();
    }
};

// "09 80 96" as bytes.
inline Bytes fromHex(const std::string& hex) {
    Bytes out;
    std::istringstream in(hex);
    for (std::string byte; in >> byte;)
        out += static_cast<char>(std::strtol(byte.c_str(), nullptr, 16));
    return out;
}

} // namespace zelto::test
