// The floor of the benchmarks: the same bytes as the board object exchanges, with nothing but
// termios, blocking reads and writes, and no checks beyond the answer itself.
//
//   zelto-raw-floor DEVICE a2d N     N round trips of a2d(0) (30 -> two bytes); prints ns per
//                                    call, the answer and the process CPU ns per call
//   zelto-raw-floor DEVICE high N    N commands high(0) (11), then ok (01) and its answer;
//                                    prints the ns from the first write to the answer

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void die(const char* what) {
    std::perror(what);
    std::exit(1);
}

int openLine(const char* device) {
    const int fd = ::open(device, O_RDWR | O_NOCTTY);
    if (fd < 0)
        die("open");
    termios t{};
    if (::tcgetattr(fd, &t) != 0)
        die("tcgetattr");
    ::cfmakeraw(&t);
    ::cfsetispeed(&t, B57600);
    ::cfsetospeed(&t, B57600);
    t.c_cflag |= CLOCAL | CREAD | CRTSCTS;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &t) != 0)
        die("tcsetattr");
    ::tcflush(fd, TCIFLUSH);
    return fd;
}

void put(int fd, unsigned char byte) {
    if (::write(fd, &byte, 1) != 1)
        die("write");
}

void get(int fd, unsigned char* bytes, size_t count) {
    size_t got = 0;
    while (got < count) {
        const ssize_t n = ::read(fd, bytes + got, count - got);
        if (n <= 0)
            die("read");
        got += static_cast<size_t>(n);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: zelto-raw-floor DEVICE a2d|high N\n");
        return 2;
    }
    const int fd = openLine(argv[1]);
    const std::string mode = argv[2];
    const long n = std::atol(argv[3]);
    unsigned char reply[2];
    if (mode == "a2d") {
        for (int i = 0; i < 200; ++i) { // warm-up
            put(fd, 0x30);
            get(fd, reply, 2);
        }
        const auto start = Clock::now();
        const std::clock_t cpu = std::clock();
        for (long i = 0; i < n; ++i) {
            put(fd, 0x30);
            get(fd, reply, 2);
        }
        const double cpuNs = static_cast<double>(std::clock() - cpu) * 1e9 / CLOCKS_PER_SEC;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start);
        std::printf("%.1f %d %.1f\n", static_cast<double>(ns.count()) / static_cast<double>(n),
                    reply[0] * 256 + reply[1], cpuNs / static_cast<double>(n));
    } else if (mode == "high") {
        const auto start = Clock::now();
        for (long i = 0; i < n; ++i)
            put(fd, 0x11);
        put(fd, 0x01);
        get(fd, reply, 1);
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start);
        std::printf("%lld %d\n", static_cast<long long>(ns.count()), reply[0]);
    } else {
        std::fprintf(stderr, "zelto-raw-floor: unknown mode %s\n", mode.c_str());
        return 2;
    }
    ::close(fd);
    return 0;
}
