#include "serial_base.h"

#include "errors.h"

#include <algorithm>
#include <cctype>
#include <iterator>

namespace zelto {
namespace {

bool parseNumber(const std::string& text, long& value) {
    if (text.empty() || text.size() > 9)
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

} // namespace

LineSettings LineSettings::parse(const std::string& text) {
    std::string fields[4];
    size_t count = 0;
    for (size_t start = 0;;) {
        const size_t comma = text.find(',', start);
        if (count == std::size(fields))
            raise(err::InvalidArgument);
        fields[count++] = text.substr(start, comma - start);
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    if (count != std::size(fields))
        raise(err::InvalidArgument);

    LineSettings line;
    if (!parseNumber(fields[0], line.baud) ||
        !std::binary_search(std::begin(StandardRates), std::end(StandardRates), line.baud))
        raise(err::InvalidArgument);

    if (fields[1].size() != 1)
        raise(err::InvalidArgument);
    line.parity = static_cast<char>(std::toupper(static_cast<unsigned char>(fields[1][0])));
    if (line.parity != 'N' && line.parity != 'E' && line.parity != 'O')
        raise(err::InvalidArgument);

    long bits = 0;
    if (!parseNumber(fields[2], bits) || bits < 5 || bits > 8)
        raise(err::InvalidArgument);
    line.dataBits = static_cast<int>(bits);

    if (fields[3] != "1" && fields[3] != "2")
        raise(err::InvalidArgument);
    line.stopBits = fields[3][0] - '0';
    return line;
}

void SerialBase::setCommPort(int16_t port) {
    if (port < 1 || port > 255)
        raise(err::InvalidPortNumber);
    if (portOpen())
        raise(err::PortAlreadyOpen);
    m_port = port;
}

void SerialBase::setPortOpen(bool open) {
    if (!open) {
        if (portOpen()) {
            closePort();
            releasePort();
        }
        m_gone = false;
        return;
    }
    if (portOpen())
        raise(err::PortAlreadyOpen);
    m_gone = false;
    if (!claimPort())
        raise(err::PortInUse);
    try {
        openPort();
    } catch (...) {
        releasePort();
        throw;
    }
}

void SerialBase::requireOpen() const {
    if (!portOpen())
        raise(err::PortNotOpen);
}

void SerialBase::writeHeldBack() {
    raise(err::LinkTimeout);
}

template <typename F> auto SerialBase::watchingForGone(F&& operation) {
    requireOpen();
    if (m_gone)
        throw AutomationError(err::DeviceGone, m_goneText);
    try {
        return operation();
    } catch (const AutomationError& e) {
        if (e.number() == err::DeviceGone) {
            m_goneText = e.what();
            m_gone = true;
        }
        throw;
    }
}

bool SerialBase::ctsHolding(Millis maxWait) {
    return watchingForGone([&] { return readCts(maxWait); });
}

void SerialBase::setOutput(const Bytes& bytes) {
    watchingForGone([&] { writeBytes(bytes); });
}

Bytes SerialBase::input(Millis maxWait) {
    // A failed read is no proof that the device went (a pseudo-terminal, or Wine's serial stack,
    // fail a single read with the same error as a hang-up): it neither looks at the latch nor
    // sets it, and the next read reads again. A device that did go is told by the next write or
    // look at the line.
    requireOpen();
    return readBytes(maxWait);
}

void SerialBase::setDTREnable(bool enable) {
    m_dtr = enable;
    modemLinesChanged();
}

void SerialBase::setRTSEnable(bool enable) {
    m_rts = enable;
    modemLinesChanged();
}

void SerialBase::setHandshaking(int16_t mode) {
    if (mode < 0 || mode > 3)
        raise(err::InvalidArgument);
    m_handshaking = mode;
    lineChanged();
    modemLinesChanged();
}

void SerialBase::setInputLen(int16_t length) {
    if (length < 0)
        raise(err::InvalidArgument);
    m_inputLen = length;
}

void SerialBase::setSThreshold(int16_t threshold) {
    if (threshold < 0)
        raise(err::InvalidArgument);
    m_sThreshold = threshold;
}

void SerialBase::setSettings(const std::string& settings) {
    m_line = LineSettings::parse(settings);
    m_settings = settings;
    lineChanged();
}

} // namespace zelto
