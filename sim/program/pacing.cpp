#include "pacing.h"

#include <algorithm>

namespace zelto::sim {

std::string Pacing::arrive(std::string_view data, Clock::time_point now) {
    if (!paced && m_in.empty())
        return std::string(data);
    for (char c : data) {
        // A byte is in once its ten bit times have passed after it, or after the one before it.
        m_lastTaken = paced ? std::max(now, m_lastTaken) + ByteTime : now;
        m_in.emplace_back(c, m_lastTaken);
    }
    return takeDue(now);
}

std::string Pacing::takeDue(Clock::time_point now) {
    std::string due;
    while (!m_in.empty() && m_in.front().second <= now) {
        due += m_in.front().first;
        m_in.pop_front();
    }
    return due;
}

void Pacing::send(std::string_view bytes, Clock::time_point when) {
    for (char c : bytes) {
        if (m_out.size() < OutLimit)
            m_out.emplace_back(c, when);
        else
            ++m_dropped;
    }
}

Clock::time_point Pacing::outDue() const {
    const auto when = m_out.front().second;
    return paced ? std::max(when, m_lastSent + ByteTime) : when;
}

std::string Pacing::dueOut(Clock::time_point now) const {
    std::string chunk;
    if (m_out.empty() || outDue() > now)
        return chunk;
    if (paced)
        return std::string(1, m_out.front().first);
    for (auto it = m_out.begin(); it != m_out.end() && it->second <= now; ++it)
        chunk += it->first;
    return chunk;
}

void Pacing::written(std::size_t n, Clock::time_point now) {
    m_out.erase(m_out.begin(), m_out.begin() + static_cast<std::ptrdiff_t>(n));
    m_lastSent = now;
}

std::optional<Clock::time_point> Pacing::nextWake(bool writeBlocked) const {
    std::optional<Clock::time_point> wake;
    if (!m_out.empty() && !writeBlocked)
        wake = outDue();
    if (!m_in.empty() && (!wake || m_in.front().second < *wake))
        wake = m_in.front().second;
    return wake;
}

} // namespace zelto::sim
