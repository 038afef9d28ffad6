#include "network_serial.h"

#include "errors.h"
#include "posix_serial.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zelto {
namespace {

using Clock = std::chrono::steady_clock;
namespace cp = telnet::comport;

constexpr std::string_view kComPortScheme = "rfc2217://";
constexpr std::string_view kRawScheme = "socket://";

int pollMillis(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<Millis>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<Millis::rep>(left, 0, 60'000));
}

Bytes bigEndian(uint32_t value) {
    return {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
            static_cast<char>(value >> 8), static_cast<char>(value)};
}

Bytes byte(int value) {
    return Bytes(1, static_cast<char>(value));
}

uint32_t fromBigEndian(const Bytes& b) {
    uint32_t v = 0;
    for (char c : b)
        v = v << 8 | static_cast<uint8_t>(c);
    return v;
}

} // namespace

bool NetworkSerial::names(const std::string& port) {
    return port.rfind(kComPortScheme, 0) == 0 || port.rfind(kRawScheme, 0) == 0;
}

NetworkSerial::NetworkSerial(std::string address) : m_address(std::move(address)) {
    m_comPort = m_address.rfind(kComPortScheme, 0) == 0;
    std::string rest = m_address.substr(m_comPort ? kComPortScheme.size() : kRawScheme.size());
    const size_t colon = rest.rfind(':');
    if (colon != std::string::npos) {
        m_host = rest.substr(0, colon);
        m_service = rest.substr(colon + 1);
    }
    if (m_host.size() >= 2 && m_host.front() == '[' && m_host.back() == ']')
        m_host = m_host.substr(1, m_host.size() - 2);
}

NetworkSerial::~NetworkSerial() {
    if (m_fd >= 0)
        ::close(m_fd);
}

void NetworkSerial::fail(int32_t number, const std::string& why) const {
    throw AutomationError(number, errorDescription(number) + ": " + m_address + " (" + why + ")");
}

void NetworkSerial::connectTo() {
    const bool portNumber = !m_service.empty() && m_service.size() <= 5 &&
                            std::all_of(m_service.begin(), m_service.end(),
                                        [](char c) { return c >= '0' && c <= '9'; }) &&
                            std::stoi(m_service) > 0 && std::stoi(m_service) < 65536;
    if (m_host.empty() || !portNumber)
        fail(err::NoSuchPort, "the form is rfc2217://HOST:PORT");
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (const int r = ::getaddrinfo(m_host.c_str(), m_service.c_str(), &hints, &found); r != 0)
        fail(err::NoSuchPort, std::string("the host is not found: ") + ::gai_strerror(r));
    std::string why = "no address";
    const auto deadline = Clock::now() + ConnectLimit;
    for (const addrinfo* a = found; a && m_fd < 0; a = a->ai_next) {
        const int fd =
            ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0)
            continue;
        int error = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0 ? 0 : errno;
        if (error == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, pollMillis(deadline)) <= 0) {
                error = ETIMEDOUT;
            } else {
                socklen_t len = sizeof error;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len);
            }
        }
        if (error == 0) {
            m_fd = fd;
            break;
        }
        why = error == ETIMEDOUT
                  ? "no answer within " + std::to_string(ConnectLimit.count()) + " ms"
                  : std::strerror(error);
        ::close(fd);
    }
    ::freeaddrinfo(found);
    if (m_fd < 0)
        fail(err::NoSuchPort, why);
    // Commands are a few bytes each: they go out at once rather than wait for more.
    const int on = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void NetworkSerial::openPort() {
    connectTo();
    m_decoder = {};
    m_lost = false;
    m_received.clear();
    m_cts = true;
    if (!m_comPort)
        return;
    m_refused = m_agreed = m_baudAnswered = m_flowAnswered = false;
    try {
        using namespace telnet;
        send(negotiation(WILL, BINARY) + negotiation(DO, BINARY) +
             negotiation(WILL, SUPPRESS_GO_AHEAD) + negotiation(DO, SUPPRESS_GO_AHEAD) +
             negotiation(WILL, COM_PORT));
        sendLine();
        sendModemLines();
        send(comPortCommand(cp::SET_MODEMSTATE_MASK, byte(cp::CTS | cp::DELTA_CTS)));
        const auto deadline = Clock::now() + ConnectLimit;
        while (!m_refused && !(m_agreed && m_baudAnswered && m_flowAnswered)) {
            if (Clock::now() >= deadline)
                fail(err::NoSuchPort, "the server did not agree to the serial line in time");
            receive(std::chrono::ceil<Millis>(deadline - Clock::now()));
        }
        if (m_refused)
            fail(err::NoSuchPort, "the server does not serve a serial port (RFC 2217)");
        if (m_baudSet != static_cast<uint32_t>(line().baud))
            fail(err::PortIoError, "the server set " + std::to_string(m_baudSet) + " baud");
        if (m_flowSet != flowControl())
            fail(err::PortIoError, "the server did not set the flow control");
    } catch (const AutomationError& e) {
        closePort();
        // The server hung up before agreeing: it serves someone else.
        if (e.number() == err::DeviceGone)
            fail(err::PortInUse, "the server closed the connection");
        throw;
    }
}

void NetworkSerial::closePort() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

uint8_t NetworkSerial::flowControl() const {
    // "Both" has no value of its own: hardware flow control is the one the board needs.
    return handshaking() & 2 ? cp::HARDWARE_FLOW : handshaking() & 1 ? cp::XON_XOFF : cp::NO_FLOW;
}

void NetworkSerial::sendLine() {
    if (!portOpen() || !m_comPort)
        return;
    const LineSettings& l = line();
    const uint8_t parity = l.parity == 'O' ? 2 : l.parity == 'E' ? 3 : 1;
    using telnet::comPortCommand;
    send(comPortCommand(cp::SET_BAUDRATE, bigEndian(static_cast<uint32_t>(l.baud))) +
         comPortCommand(cp::SET_DATASIZE, byte(l.dataBits)) +
         comPortCommand(cp::SET_PARITY, byte(parity)) +
         comPortCommand(cp::SET_STOPSIZE, byte(l.stopBits)) +
         comPortCommand(cp::SET_CONTROL, byte(flowControl())));
}

void NetworkSerial::sendModemLines() {
    if (!portOpen() || !m_comPort)
        return;
    using telnet::comPortCommand;
    send(comPortCommand(cp::SET_CONTROL, byte(dtrEnable() ? cp::DTR_ON : cp::DTR_OFF)) +
         comPortCommand(cp::SET_CONTROL, byte(rtsEnable() ? cp::RTS_ON : cp::RTS_OFF)));
}

void NetworkSerial::lineChanged() {
    sendLine();
}

void NetworkSerial::modemLinesChanged() {
    sendModemLines();
}

void NetworkSerial::send(const Bytes& bytes) {
    // A connection found closed stays closed: nothing more is sent into it.
    if (m_lost)
        fail(err::DeviceGone, "the connection was lost");
    const auto deadline = Clock::now() + WriteHeldBackLimit;
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n >= 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error != EAGAIN && error != EWOULDBLOCK) {
            m_lost = true;
            fail(err::DeviceGone, std::strerror(error));
        }
        pollfd p{m_fd, POLLOUT, 0};
        if (Clock::now() >= deadline || ::poll(&p, 1, pollMillis(deadline)) == 0)
            writeHeldBack();
    }
}

bool NetworkSerial::receive(Millis maxWait) {
    pollfd p{m_fd, POLLIN, 0};
    const int ready =
        ::poll(&p, 1, static_cast<int>(std::clamp<Millis::rep>(maxWait.count(), 0, 60'000)));
    if (ready <= 0)
        return false;
    char buf[4096];
    const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return false;
    if (n <= 0) {
        m_lost = true;
        fail(err::DeviceGone, n == 0 ? "the server closed the connection" : std::strerror(errno));
    }
    std::vector<telnet::Event> events;
    if (m_comPort)
        m_decoder.feed(buf, static_cast<size_t>(n), m_received, events);
    else
        m_received.append(buf, static_cast<size_t>(n));
    for (const telnet::Event& e : events)
        handle(e);
    return true;
}

void NetworkSerial::handle(const telnet::Event& e) {
    using namespace telnet;
    switch (e.verb) {
    case DO:
    case DONT:
        if (e.option == COM_PORT) {
            m_agreed = e.verb == DO;
            m_refused = e.verb == DONT;
        } else if (e.verb == DO && e.option != BINARY && e.option != SUPPRESS_GO_AHEAD) {
            send(negotiation(WONT, e.option));
        }
        break;
    case WILL:
        if (e.option != BINARY && e.option != SUPPRESS_GO_AHEAD)
            send(negotiation(DONT, e.option));
        break;
    case SB:
        if (e.code == cp::SET_BAUDRATE + cp::ServerOffset && e.value.size() == 4) {
            m_baudSet = fromBigEndian(e.value);
            m_baudAnswered = true;
        } else if (e.code == cp::SET_CONTROL + cp::ServerOffset && e.value.size() == 1 &&
                   static_cast<uint8_t>(e.value[0]) <= cp::HARDWARE_FLOW) {
            m_flowSet = static_cast<uint8_t>(e.value[0]);
            m_flowAnswered = true;
        } else if (e.code == cp::NOTIFY_MODEMSTATE + cp::ServerOffset && e.value.size() == 1) {
            m_cts = (static_cast<uint8_t>(e.value[0]) & cp::CTS) != 0;
        }
        break;
    default:
        break;
    }
}

bool NetworkSerial::readCts(Millis maxWait) {
    if (!m_comPort)
        return true;
    const auto deadline = Clock::now() + maxWait;
    // Notifications that have arrived first, then, while the line is low, those that come.
    while (receive(Millis{0})) {
    }
    while (!m_cts && Clock::now() < deadline)
        receive(std::chrono::ceil<Millis>(deadline - Clock::now()));
    return m_cts;
}

void NetworkSerial::writeBytes(const Bytes& bytes) {
    send(m_comPort ? telnet::escape(bytes) : bytes);
}

Bytes NetworkSerial::readBytes(Millis maxWait) {
    const auto deadline = Clock::now() + maxWait;
    while (m_received.empty()) {
        if (!receive(std::chrono::ceil<Millis>(deadline - Clock::now())) &&
            Clock::now() >= deadline)
            break;
    }
    const size_t n = inputLen() == 0
                         ? m_received.size()
                         : std::min<size_t>(m_received.size(), static_cast<size_t>(inputLen()));
    Bytes out = m_received.substr(0, n);
    m_received.erase(0, n);
    return out;
}

} // namespace zelto

namespace zelto {

std::unique_ptr<SerialBase> serialComponentFor(const std::string& device) {
    if (NetworkSerial::names(device))
        return std::make_unique<NetworkSerial>(device);
    return std::make_unique<PosixSerial>(device);
}

} // namespace zelto
