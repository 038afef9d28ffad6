#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace zelto::sim {

using Clock = std::chrono::steady_clock;

// One byte at 57600 baud with 8N1 framing takes ten bit times.
inline constexpr auto ByteTime = std::chrono::nanoseconds(1'000'000'000LL * 10 / 57600);

// The bytes between the line and the board, each with the time it is due. Unpaced, the board
// takes what arrives at once and answers are due when their delay ends; paced, the board takes
// and sends one byte per byte time.
class Pacing {
  public:
    bool paced = false;

    // Bytes read from the device; returns those the board takes now.
    std::string arrive(std::string_view data, Clock::time_point now);
    // The arrived bytes whose time has come.
    std::string takeDue(Clock::time_point now);

    // Queues the board's answer, due at when. Like a UART whose far end does not read, it holds at
    // most OutLimit bytes: the rest are dropped and counted.
    void send(std::string_view bytes, Clock::time_point when);
    // The answers not yet written, dropped (their reader has gone).
    void dropOut() { m_out.clear(); }
    // Answer bytes dropped for want of room since the last call.
    std::size_t takeDropped() { return std::exchange(m_dropped, 0); }
    static constexpr std::size_t OutLimit = 4096;
    // The bytes to write now (one when paced); empty when none is due.
    std::string dueOut(Clock::time_point now) const;
    // The first n bytes of dueOut were written at now.
    void written(std::size_t n, Clock::time_point now);
    bool sending() const { return !m_out.empty(); }

    // When something falls due next; the answers count only while the device takes writes.
    std::optional<Clock::time_point> nextWake(bool writeBlocked) const;

  private:
    Clock::time_point outDue() const;

    std::deque<std::pair<char, Clock::time_point>> m_in; // read, not yet taken by the board
    std::deque<std::pair<char, Clock::time_point>> m_out;
    Clock::time_point m_lastTaken{};
    Clock::time_point m_lastSent{};
    std::size_t m_dropped = 0;
};

} // namespace zelto::sim
