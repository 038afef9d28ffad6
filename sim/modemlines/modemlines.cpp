// Preload library for the benchmarks and tests: gives pseudo-terminal slaves the modem lines they
// lack, so that clear-to-send can be held low against the simulator, and fails chosen reads of
// them, so that a failing read is met where the system makes it.
//
// The modem-line requests (TIOCMGET, TIOCMBIS, TIOCMBIC, TIOCMSET, TIOCMIWAIT) on the slave side of
// a pseudo-terminal are answered here instead of failing: clear-to-send comes from the file named
// by ZELTO_CTS_FILE ("1" asserted, "0" low; a missing file counts as asserted), data-set-ready and
// carrier detect are always asserted, and data-terminal-ready and request-to-send keep what the
// process last set, per device. TIOCMIWAIT sleeps until clear-to-send differs from what it was
// when the wait began (the file's directory is watched with inotify), the far end hangs up (EIO) or
// a signal comes (EINTR) or the thread is cancelled. A slave whose far end has hung up fails them
// with EIO, as the kernel does. Without ZELTO_CTS_FILE every request goes to the kernel unchanged,
// and so does every other descriptor and request.
//
// Reads: the file named by ZELTO_READ_FAULT_FILE, holding the line "N ERRNO", makes the Nth read()
// of a pseudo-terminal slave from then on fail with ERRNO, without taking the bytes, and lets every
// later read through. Only reads that find bytes waiting count, so that the count is the same
// however often a reader looks at an empty line. The next read of a slave takes the file and
// removes it; "0 0" takes back a failure not yet made. Without ZELTO_READ_FAULT_FILE reads go to
// the kernel unchanged.
//
// Built without sanitizers. In a sanitized process the sanitizer runtime has to come first:
// LD_PRELOAD="<libasan.so>:libzeltomodemlines.so".

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

using IoctlFn = int (*)(int, unsigned long, ...);

IoctlFn realIoctl() {
    static IoctlFn fn = reinterpret_cast<IoctlFn>(dlsym(RTLD_NEXT, "ioctl"));
    return fn;
}

using ReadFn = ssize_t (*)(int, void*, size_t);
using ReadChkFn = ssize_t (*)(int, void*, size_t, size_t);

ReadFn realRead() {
    static ReadFn fn = reinterpret_cast<ReadFn>(dlsym(RTLD_NEXT, "read"));
    return fn;
}

ReadChkFn realReadChk() {
    static ReadChkFn fn = reinterpret_cast<ReadChkFn>(dlsym(RTLD_NEXT, "__read_chk"));
    return fn;
}

// Slaves of the pseudo-terminal multiplexer have majors 136 to 143.
bool isPtySlave(int fd, dev_t& device) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const unsigned m = major(st.st_rdev);
    device = st.st_rdev;
    return m >= 136 && m <= 143;
}

bool ctsAsserted(const char* path) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return true;
    char c = '1';
    const ssize_t n = read(fd, &c, 1);
    close(fd);
    return n != 1 || c != '0';
}

// The output lines each device was last given.
struct Lines {
    dev_t device;
    int bits;
};
constexpr int kDevices = 64;
Lines g_lines[kDevices];
int g_used = 0;
pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;

int& outputLines(dev_t device) {
    for (int i = 0; i < g_used; ++i)
        if (g_lines[i].device == device)
            return g_lines[i].bits;
    const int slot = g_used < kDevices ? g_used++ : kDevices - 1;
    g_lines[slot] = Lines{device, 0};
    return g_lines[slot].bits;
}

int emulate(unsigned long request, int* arg, dev_t device, const char* ctsFile) {
    if (arg == nullptr) {
        errno = EFAULT;
        return -1;
    }
    constexpr int kOutputs = TIOCM_DTR | TIOCM_RTS;
    pthread_mutex_lock(&g_lock);
    int& bits = outputLines(device);
    switch (request) {
    case TIOCMGET:
        *arg = bits | TIOCM_DSR | TIOCM_CAR | (ctsAsserted(ctsFile) ? TIOCM_CTS : 0);
        break;
    case TIOCMBIS:
        bits |= *arg & kOutputs;
        break;
    case TIOCMBIC:
        bits &= ~(*arg & kOutputs);
        break;
    default: // TIOCMSET
        bits = *arg & kOutputs;
        break;
    }
    pthread_mutex_unlock(&g_lock);
    return 0;
}

// The read failure armed and not yet made: the reads with bytes waiting still to go before it,
// and its error.
int g_readsBeforeFault = 0;
int g_readError = 0;

// Takes an arming from the file, which the test may still be writing: only a whole line counts.
void takeArming(const char* path) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    char text[64] = {};
    const ssize_t n = realRead()(fd, text, sizeof text - 1);
    close(fd);
    int count = 0;
    int error = 0;
    if (n <= 0 || text[n - 1] != '\n' || sscanf(text, "%d %d", &count, &error) != 2 || count < 0)
        return;
    unlink(path);
    g_readsBeforeFault = count;
    g_readError = error;
}

bool bytesWaiting(int fd) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

// The error this read of fd fails with, or 0 when it goes to the kernel.
int readFault(int fd) {
    const char* path = getenv("ZELTO_READ_FAULT_FILE");
    dev_t device = 0;
    if (path == nullptr || *path == '\0' || !isPtySlave(fd, device))
        return 0;
    pthread_mutex_lock(&g_lock);
    takeArming(path);
    int error = 0;
    if (g_readsBeforeFault > 0 && bytesWaiting(fd) && --g_readsBeforeFault == 0)
        error = g_readError;
    pthread_mutex_unlock(&g_lock);
    return error;
}

// One inotify instance per waiting thread, kept for the thread's life: closing one makes the kernel
// wait for its watches to go, several milliseconds, which would delay every wake.
struct Watcher {
    int fd = -1;
    ~Watcher() {
        // A cancellation point in a destructor at thread exit would end the process.
        pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
        if (fd >= 0)
            close(fd);
    }
};
thread_local Watcher t_watcher;

void drain(int fd) {
    alignas(inotify_event) char events[4096];
    while (read(fd, events, sizeof events) > 0) {
    }
}

// A thread may be cancelled while it sleeps in the wait, as in the kernel's, but not while it holds
// a descriptor of its own. (Cancellation states are changed in plain functions: a pending
// cancellation acts at once, and it must not start in a destructor.)
int pollCancellable(pollfd* fds, nfds_t n, int state) {
    pthread_setcancelstate(state, nullptr);
    const int ready = poll(fds, n, -1);
    const int error = errno;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
    errno = error;
    return ready;
}

// TIOCMIWAIT for clear-to-send: the simulator replaces the file by a rename, which the directory
// tells; sleeping in poll() keeps the emulation's own cost out of a waiting process.
int awaitChangeUncancelled(int fd, const char* ctsFile, int state) {
    char dir[4096];
    const char* slash = strrchr(ctsFile, '/');
    const size_t length = slash == nullptr ? 0 : static_cast<size_t>(slash - ctsFile);
    if (length >= sizeof dir) {
        errno = ENAMETOOLONG;
        return -1;
    }
    if (slash == nullptr) {
        strcpy(dir, ".");
    } else {
        memcpy(dir, ctsFile, length);
        dir[length] = '\0';
        if (length == 0)
            strcpy(dir, "/");
    }
    if (t_watcher.fd < 0)
        t_watcher.fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    const int inotify = t_watcher.fd;
    if (inotify < 0)
        return -1;
    constexpr uint32_t kChanges =
        IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE;
    if (inotify_add_watch(inotify, dir, kChanges) < 0)
        return -1;
    // Events of earlier waits are stale; the line is read after the watch is set, so that no
    // change can fall between the two.
    drain(inotify);
    const bool before = ctsAsserted(ctsFile);
    for (;;) {
        pollfd p[2] = {{inotify, POLLIN, 0}, {fd, 0, 0}};
        if (pollCancellable(p, 2, state) < 0)
            return -1;
        if (p[1].revents & POLLNVAL) {
            errno = EBADF;
            return -1;
        }
        if (p[1].revents & (POLLHUP | POLLERR)) {
            errno = EIO;
            return -1;
        }
        drain(inotify);
        if (ctsAsserted(ctsFile) != before)
            return 0;
    }
}

int awaitChange(int fd, const char* ctsFile) {
    int state = PTHREAD_CANCEL_ENABLE;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &state);
    const int result = awaitChangeUncancelled(fd, ctsFile, state);
    const int error = errno;
    pthread_setcancelstate(state, nullptr);
    errno = error;
    return result;
}

} // namespace

// Not declared noexcept as <sys/ioctl.h> has it: a thread cancelled while it sleeps in the wait is
// unwound through this frame, and unwinding a noexcept frame ends the process.
extern "C" int emulatedIoctl(int fd, unsigned long request, ...) __asm__("ioctl");

int emulatedIoctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);

    const bool modemRequest = request == TIOCMGET || request == TIOCMBIS || request == TIOCMBIC ||
                              request == TIOCMSET || request == TIOCMIWAIT;
    const char* ctsFile = modemRequest ? getenv("ZELTO_CTS_FILE") : nullptr;
    dev_t device = 0;
    if (ctsFile != nullptr && *ctsFile != '\0' && isPtySlave(fd, device)) {
        // A hung-up terminal (its far end closed) fails every request, as a vanished port does.
        int probe = 0;
        if (realIoctl()(fd, TIOCMGET, &probe) != 0 && errno == EIO)
            return -1;
        if (request == TIOCMIWAIT)
            return awaitChange(fd, ctsFile);
        return emulate(request, static_cast<int*>(arg), device, ctsFile);
    }
    return realIoctl()(fd, request, arg);
}

// Named through the assembler, as ioctl above: the C library declares both noexcept, and a thread
// cancelled in the read is unwound through this frame.
extern "C" ssize_t faultyRead(int fd, void* buffer, size_t size) __asm__("read");
extern "C" ssize_t faultyReadChk(int fd, void* buffer, size_t size,
                                 size_t bufferSize) __asm__("__read_chk");

ssize_t faultyRead(int fd, void* buffer, size_t size) {
    if (const int error = readFault(fd)) {
        errno = error;
        return -1;
    }
    return realRead()(fd, buffer, size);
}

// The fortified form, which a program built with _FORTIFY_SOURCE calls instead.
ssize_t faultyReadChk(int fd, void* buffer, size_t size, size_t bufferSize) {
    if (const int error = readFault(fd)) {
        errno = error;
        return -1;
    }
    return realReadChk()(fd, buffer, size, bufferSize);
}
