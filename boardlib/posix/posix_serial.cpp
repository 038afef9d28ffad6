#include "posix_serial.h"

#include "errors.h"
#include "posix_cts_waiter.h"
#include "zeltodll.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <iterator>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace zelto {
namespace {

using Clock = std::chrono::steady_clock;

// How often a wait for clear-to-send looks at the line on a port whose driver cannot wait for a
// modem-status change: often enough to answer within a millisecond.
constexpr auto kCtsSample = std::chrono::microseconds{1000};

struct Rate {
    long baud;
    speed_t speed;
};

constexpr Rate kRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

constexpr bool ratesMatch() {
    if (std::size(kRates) != std::size(StandardRates))
        return false;
    for (size_t i = 0; i < std::size(kRates); ++i)
        if (kRates[i].baud != StandardRates[i])
            return false;
    return true;
}
static_assert(ratesMatch(), "every rate a settings string may name has its terminal speed");

// A pseudo-terminal has no modem lines and answers their requests with one of these.
bool noModemLines(int error) {
    return error == ENOTTY || error == EINVAL;
}

int pollMillis(Millis wait) {
    return static_cast<int>(std::min<Millis::rep>(wait.count(), 60'000));
}

speed_t speedOf(long baud) {
    for (const Rate& rate : kRates)
        if (rate.baud == baud)
            return rate.speed;
    return B0;
}

} // namespace

PosixSerial::PosixSerial() = default;

PosixSerial::PosixSerial(std::string devicePath) : m_path(std::move(devicePath)) {}

PosixSerial::~PosixSerial() {
    if (portOpen())
        closePort();
}

std::string PosixSerial::deviceForPort(int16_t port) {
    if (port < 1 || port > 255)
        raise(err::InvalidPortNumber);
    return "/dev/ttyS" + std::to_string(port - 1);
}

void PosixSerial::setDevicePath(std::string devicePath) {
    if (portOpen())
        raise(err::PortAlreadyOpen);
    m_path = std::move(devicePath);
}

std::string PosixSerial::devicePath() const {
    return m_path.empty() ? deviceForPort(commPort()) : m_path;
}

void PosixSerial::fail(int32_t number, int error) const {
    // A path can be as long as the system allows; the text keeps its two ends.
    constexpr size_t kLongest = 80;
    std::string path = devicePath();
    if (path.size() > kLongest)
        path =
            path.substr(0, kLongest / 2 - 2) + "..." + path.substr(path.size() - kLongest / 2 + 1);
    std::string text = errorDescription(number) + ": " + path;
    if (error != 0)
        text += " (errno " + std::to_string(error) + ")";
    throw AutomationError(number, text);
}

void PosixSerial::failIo(int error) {
    // After a hang-up (an unplugged adapter, the other end of a pseudo-terminal closed) the kernel
    // answers every request with one of these.
    if (error == EIO || error == ENXIO || error == ENODEV || error == EBADF)
        fail(err::DeviceGone, error);
    fail(err::PortIoError, error);
}

void PosixSerial::openPort() {
    const std::string path = devicePath();
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR:
        case EISDIR:
        case ENAMETOOLONG:
        case ELOOP:
        case EIO: // a device node without hardware behind it
            fail(err::NoSuchPort, error);
        case EBUSY:
            fail(err::PortInUse, error);
        case EACCES:
        case EPERM:
        case EROFS:
            fail(err::PermissionDenied, error);
        default:
            fail(err::PortIoError, error);
        }
    }
    // The lock keeps out every other opener, including privileged ones that the exclusive mode of
    // the terminal lets through.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        fail(error == EWOULDBLOCK ? err::PortInUse : err::PortIoError, error);
    }
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        const int error = errno;
        ::close(fd);
        fail(error == ENOTTY ? err::NoSuchPort : err::PortIoError, error);
    }
#ifdef TIOCGPTN
    // The multiplexer hands out a new pseudo-terminal master, never a port.
    unsigned int ptyNumber = 0;
    if (::ioctl(fd, TIOCGPTN, &ptyNumber) == 0) {
        ::close(fd);
        fail(err::NoSuchPort, 0);
    }
#endif
    ::ioctl(fd, TIOCEXCL);
    m_fd = fd;
    m_received.clear();
    m_ctsSampled = false;
    try {
        applyLine();
        applyModemLines();
        // Bytes that arrived while nobody had the port open are not meant for this opener.
        ::tcflush(m_fd, TCIFLUSH);
    } catch (...) {
        closePort();
        throw;
    }
}

void PosixSerial::closePort() {
    m_ctsWaiter.reset();
    // The exclusive mode belongs to the terminal and would outlive this descriptor while another
    // one is open (the simulator holds its pseudo-terminal open). The lock is released here, not
    // by the close: a waiter thread left to end on its own still holds a duplicate.
    ::flock(m_fd, LOCK_UN);
    ::ioctl(m_fd, TIOCNXCL);
    ::close(m_fd);
    m_fd = -1;
    m_received.clear();
}

void PosixSerial::applyLine() {
    if (!portOpen())
        return;
    const LineSettings& settings = line();
    termios tio{};
    if (::tcgetattr(m_fd, &tio) != 0)
        failIo(errno);
    ::cfmakeraw(&tio);
    constexpr tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD | sizes[settings.dataBits - 5];
    if (settings.parity != 'N')
        tio.c_cflag |= PARENB;
    if (settings.parity == 'O')
        tio.c_cflag |= PARODD;
    if (settings.stopBits == 2)
        tio.c_cflag |= CSTOPB;
    if (handshaking() & 2)
        tio.c_cflag |= CRTSCTS;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
    if (handshaking() & 1)
        tio.c_iflag |= IXON | IXOFF;
    if (settings.parity != 'N')
        tio.c_iflag |= INPCK;
    // With a minimum of one byte a read of nothing on the non-blocking descriptor fails with
    // EAGAIN, which keeps it apart from the end of file of a hung-up line.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    const speed_t speed = speedOf(settings.baud);
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    if (::tcsetattr(m_fd, TCSANOW, &tio) != 0)
        failIo(errno);
}

void PosixSerial::applyModemLines() {
    if (!portOpen())
        return;
    int raise = 0;
    int lower = 0;
    (dtrEnable() ? raise : lower) |= TIOCM_DTR;
    (rtsEnable() ? raise : lower) |= TIOCM_RTS;
    for (auto [request, bits] : {std::pair{TIOCMBIS, raise}, std::pair{TIOCMBIC, lower}}) {
        if (bits == 0)
            continue;
        if (::ioctl(m_fd, request, &bits) != 0 && !noModemLines(errno))
            failIo(errno);
    }
}

bool PosixSerial::readCts(Millis maxWait) {
    const auto deadline = Clock::now() + maxWait;
    for (;;) {
        int status = 0;
        if (::ioctl(m_fd, TIOCMGET, &status) != 0) {
            // Asked each time: a terminal without modem lines answers with one of these until it
            // is hung up, and then with an error that tells the device is gone.
            if (noModemLines(errno))
                return true;
            failIo(errno);
        }
        if (status & TIOCM_CTS)
            return true;
        const auto now = Clock::now();
        if (now >= deadline)
            return false;
        if (!awaitCtsChange(deadline - now))
            std::this_thread::sleep_for(std::min<Clock::duration>(kCtsSample, deadline - now));
    }
}

bool PosixSerial::awaitCtsChange(Clock::duration left) {
    if (m_ctsSampled)
        return false;
    if (m_ctsWaiter && m_ctsWaiter->ended()) {
        // A device that is gone is told by the next look at the line; any other failure leaves
        // sampling.
        m_ctsWaiter.reset();
        m_ctsSampled = true;
        return false;
    }
    if (!m_ctsWaiter) {
        m_ctsWaiter = CtsWaiter::start(m_fd);
        if (!m_ctsWaiter) {
            m_ctsSampled = true;
            return false;
        }
    }
    m_ctsWaiter->await(left);
    return true;
}

void PosixSerial::writeBytes(const Bytes& bytes) {
    size_t done = 0;
    auto lastProgress = Clock::now();
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            lastProgress = Clock::now();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            failIo(errno);
        const auto stalled = Clock::now() - lastProgress;
        if (stalled >= WriteHeldBackLimit)
            writeHeldBack();
        pollfd p{m_fd, POLLOUT, 0};
        const auto left = std::chrono::ceil<Millis>(WriteHeldBackLimit - stalled);
        if (::poll(&p, 1, pollMillis(left)) < 0 && errno != EINTR)
            failIo(errno);
    }
}

Bytes PosixSerial::readBytes(Millis maxWait) {
    if (m_received.empty())
        receive(maxWait);
    const size_t take = inputLen() > 0
                            ? std::min<size_t>(static_cast<size_t>(inputLen()), m_received.size())
                            : m_received.size();
    Bytes out = m_received.substr(0, take);
    m_received.erase(0, take);
    return out;
}

void PosixSerial::receive(Millis maxWait) {
    const auto deadline = Clock::now() + maxWait;
    // A reply is seldom there the moment it is asked for: with a wait, sleep first, then read.
    bool wait = maxWait > Millis{0};
    char buffer[4096];
    for (;;) {
        if (wait) {
            const auto now = Clock::now();
            pollfd p{m_fd, POLLIN, 0};
            const int ready = ::poll(
                &p, 1, now >= deadline ? 0 : pollMillis(std::chrono::ceil<Millis>(deadline - now)));
            if (ready < 0 && errno != EINTR)
                failIo(errno);
            if (ready > 0 && (p.revents & POLLNVAL))
                fail(err::DeviceGone, EBADF);
            // Hang-ups and errors are told by the read, after any bytes still waiting.
        }
        // The input length is what one read takes from the system, as on the other platform:
        // with one byte per read, each reply byte is a read of its own that may fail alone.
        const size_t want = inputLen() > 0
                                ? std::min(static_cast<size_t>(inputLen()), sizeof buffer)
                                : sizeof buffer;
        const ssize_t n = ::read(m_fd, buffer, want);
        if (n > 0) {
            m_received.append(buffer, static_cast<size_t>(n));
            return;
        }
        // With the descriptor non-blocking, a read of nothing means the line was hung up.
        if (n == 0)
            fail(err::DeviceGone, 0);
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            failIo(errno);
        if (Clock::now() >= deadline)
            return;
        wait = true;
    }
}

std::unique_ptr<SerialComponent> makeSystemSerialComponent() {
    return std::make_unique<PosixSerial>();
}

// The board object's default component is this platform's: the portable core never names one.
ZeltoDLL::ZeltoDLL() : ZeltoDLL(makeSystemSerialComponent()) {}

} // namespace zelto
