// posix.cpp - the platform seam on Linux: termios serial ports, the
// monotonic clock and sleeping.
//
// Port names: "NUL" is the null port (/dev/null); a name containing '/' is a
// path used as it is; any other name is a device under /dev ("ttyUSB0").
// Ports are opened exclusively with flock, which holds for root too, never
// become the controlling terminal and are closed on exec. The descriptor is
// the handle; it is never 0.
//
// Time-outs are kept here per port and emulated with poll and a deadline on
// the monotonic clock: a read returns when its bytes are in or when the
// total time-out has run out since the call began. A total time-out of 0
// makes a read take only what has already arrived, without waiting, so that
// no setting can block the host for ever.
#include "serial/platform/platform.h"
#include "serial/platform/posix_line.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>


namespace {

enum { MAX_PORTS = 64, WRITE_STALL_MS = 5000 };

struct PortEntry {
    int fd;             // -1: free
    bool nullPort;
    PlatTimeouts timeouts;
};

PortEntry ports[MAX_PORTS] = {};
bool portsReady = false;
pthread_mutex_t portsLock = PTHREAD_MUTEX_INITIALIZER;

void InitPorts() {
    if (portsReady) return;
    for (PortEntry &p : ports) p.fd = -1;
    portsReady = true;
}

// Copies the entry of a handle; false when the handle is not an open port.
bool FindPort(PortHandle handle, PortEntry *out) {
    bool found = false;
    pthread_mutex_lock(&portsLock);
    InitPorts();
    for (const PortEntry &p : ports) {
        if (p.fd >= 0 && static_cast<PortHandle>(p.fd) == handle) {
            *out = p;
            found = true;
            break;
        }
    }
    pthread_mutex_unlock(&portsLock);
    return found;
}

uint64_t NowMs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

bool IsSerial(const PortEntry &p) { return !p.nullPort && isatty(p.fd); }

} // namespace

bool PlatOpen(const char *name, PortHandle *handle) {
    if (name == nullptr || name[0] == '\0') return false;
    const bool nullPort = strcmp(name, "NUL") == 0;
    char path[4096];
    if (nullPort)
        snprintf(path, sizeof path, "/dev/null");
    else if (strchr(name, '/') != nullptr)
        snprintf(path, sizeof path, "%s", name);
    else if (snprintf(path, sizeof path, "/dev/%s", name) >= static_cast<int>(sizeof path))
        return false;

    int fd = open(path, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    if (fd == 0) { // 0 means "no port" to the driver
        const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 1);
        close(fd);
        if (moved < 0) return false;
        fd = moved;
    }
    if (!nullPort && flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return false;
    }

    bool stored = false;
    pthread_mutex_lock(&portsLock);
    InitPorts();
    for (PortEntry &p : ports) {
        if (p.fd < 0) {
            p.fd = fd;
            p.nullPort = nullPort;
            p.timeouts = PlatTimeouts{0, 0, 0, 0, 0};
            stored = true;
            break;
        }
    }
    pthread_mutex_unlock(&portsLock);
    if (!stored) {
        close(fd);
        return false;
    }
    *handle = static_cast<PortHandle>(fd);
    return true;
}

bool PlatClose(PortHandle handle) {
    int fd = -1;
    pthread_mutex_lock(&portsLock);
    InitPorts();
    for (PortEntry &p : ports) {
        if (p.fd >= 0 && static_cast<PortHandle>(p.fd) == handle) {
            fd = p.fd;
            p.fd = -1;
            break;
        }
    }
    pthread_mutex_unlock(&portsLock);
    if (fd < 0) return false;
    // The descriptor is gone after close even when it reports an error.
    return close(fd) == 0 || errno == EINTR;
}

bool PlatGetLine(PortHandle handle, PlatLine *line) {
    PortEntry p;
    if (!FindPort(handle, &p) || p.nullPort) return false;
    DzLine d;
    if (DzGetLine(p.fd, &d) != 0) return false;
    PlatLine l{};
    l.BaudRate = d.baud;
    l.fBinary = 1;
    l.fParity = d.checkParity;
    l.fOutxCtsFlow = d.ctsFlow;
    l.fDtrControl = DTR_CONTROL_ENABLE;
    l.fTXContinueOnXoff = 1;
    l.fOutX = d.xonOut;
    l.fInX = d.xonIn;
    l.fRtsControl = d.ctsFlow ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    l.ByteSize = d.byteSize;
    l.Parity = d.parity;
    l.StopBits = d.twoStopBits ? 2 : 0;
    l.XonChar = static_cast<char>(d.xonChar);
    l.XoffChar = static_cast<char>(d.xoffChar);
    l.EofChar = static_cast<char>(d.eofChar);
    *line = l;
    return true;
}

bool PlatSetLine(PortHandle handle, const PlatLine *line) {
    PortEntry p;
    if (!FindPort(handle, &p) || p.nullPort) return false;
    if (line->StopBits != 0 && line->StopBits != 2) return false; // 1.5 stop bits cannot be expressed here
    DzLine d{};
    d.baud = line->BaudRate;
    d.byteSize = line->ByteSize;
    d.parity = line->Parity;
    d.twoStopBits = line->StopBits == 2;
    d.checkParity = line->fParity;
    d.ctsFlow = line->fOutxCtsFlow || line->fRtsControl == RTS_CONTROL_HANDSHAKE;
    d.xonOut = line->fOutX;
    d.xonIn = line->fInX;
    if (DzSetLine(p.fd, &d) != 0) return false;

    // DTR and RTS levels while the port is open; a line without modem
    // control (a pseudo-terminal) refuses these, which changes nothing.
    int dtr = TIOCM_DTR, rts = TIOCM_RTS;
    if (line->fDtrControl == DTR_CONTROL_ENABLE) ioctl(p.fd, TIOCMBIS, &dtr);
    else if (line->fDtrControl == DTR_CONTROL_DISABLE) ioctl(p.fd, TIOCMBIC, &dtr);
    if (line->fRtsControl == RTS_CONTROL_ENABLE) ioctl(p.fd, TIOCMBIS, &rts);
    else if (line->fRtsControl == RTS_CONTROL_DISABLE) ioctl(p.fd, TIOCMBIC, &rts);
    return true;
}

bool PlatGetTimeouts(PortHandle handle, PlatTimeouts *timeouts) {
    PortEntry p;
    if (!FindPort(handle, &p) || !IsSerial(p)) return false;
    *timeouts = p.timeouts;
    return true;
}

bool PlatSetTimeouts(PortHandle handle, const PlatTimeouts *timeouts) {
    bool done = false;
    pthread_mutex_lock(&portsLock);
    InitPorts();
    for (PortEntry &p : ports) {
        if (p.fd >= 0 && static_cast<PortHandle>(p.fd) == handle && IsSerial(p)) {
            p.timeouts = *timeouts;
            done = true;
            break;
        }
    }
    pthread_mutex_unlock(&portsLock);
    return done;
}

bool PlatSetupQueues(PortHandle handle, uint32_t, uint32_t) {
    // The kernel sizes its own queues; only a serial port accepts the call.
    PortEntry p;
    return FindPort(handle, &p) && IsSerial(p);
}

bool PlatClearError(PortHandle handle, uint32_t *waiting) {
    PortEntry p;
    if (!FindPort(handle, &p) || p.nullPort) return false;
    int n = 0;
    if (ioctl(p.fd, TIOCINQ, &n) != 0) return false;
    if (waiting) *waiting = n > 0 ? static_cast<uint32_t>(n) : 0;
    return true;
}

bool PlatRead(PortHandle handle, void *buffer, uint32_t count, uint32_t *received) {
    *received = 0;
    PortEntry p;
    if (!FindPort(handle, &p)) return false;
    const bool serial = IsSerial(p);
    const uint64_t total = serial ? static_cast<uint64_t>(p.timeouts.ReadTotalTimeoutConstant) +
                                        static_cast<uint64_t>(p.timeouts.ReadTotalTimeoutMultiplier) * count
                                  : 0;
    const uint64_t deadline = NowMs() + total;
    uint8_t *out = static_cast<uint8_t *>(buffer);
    uint32_t got = 0;
    while (got < count) {
        const ssize_t n = read(p.fd, out + got, count - got);
        if (n > 0) {
            got += static_cast<uint32_t>(n);
            *received = got;
            continue;
        }
        if (n == 0 && !serial) break; // end of a file or the null device
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
        const uint64_t now = NowMs();
        if (now >= deadline) break;
        struct pollfd pfd = {p.fd, POLLIN, 0};
        const int ready = poll(&pfd, 1, static_cast<int>(deadline - now > 60000 ? 60000 : deadline - now));
        if (ready < 0 && errno != EINTR) return false;
        // A hang-up or error shows up in the next read.
    }
    *received = got;
    return true;
}

bool PlatWrite(PortHandle handle, const void *buffer, uint32_t count, uint32_t *written) {
    *written = 0;
    PortEntry p;
    if (!FindPort(handle, &p)) return false;
    const uint8_t *in = static_cast<const uint8_t *>(buffer);
    uint32_t put = 0;
    while (put < count) {
        const ssize_t n = write(p.fd, in + put, count - put);
        if (n > 0) {
            put += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            if (put == 0) return false;
            break; // report the bytes that did go out
        }
        // The output queue is full: wait for room, but not for ever.
        struct pollfd pfd = {p.fd, POLLOUT, 0};
        const int ready = poll(&pfd, 1, WRITE_STALL_MS);
        if (ready == 0) break;
        if (ready < 0 && errno != EINTR) break;
    }
    // Handed over means on the wire: wait until the bytes are transmitted.
    if (isatty(p.fd)) {
        while (tcdrain(p.fd) != 0 && errno == EINTR) {
        }
    }
    *written = put;
    return true;
}

int PlatEscape(PortHandle handle, int function) {
    PortEntry p;
    if (!FindPort(handle, &p) || p.nullPort) return 0;
    int rts = TIOCM_RTS;
    if (function == PLAT_SETRTS) return ioctl(p.fd, TIOCMBIS, &rts) == 0 ? 1 : 0;
    if (function == PLAT_CLRRTS) return ioctl(p.fd, TIOCMBIC, &rts) == 0 ? 1 : 0;
    return 0;
}

void PlatSleep(uint32_t milliseconds) {
    struct timespec until;
    clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_sec += milliseconds / 1000u;
    until.tv_nsec += static_cast<long>(milliseconds % 1000u) * 1000000L;
    if (until.tv_nsec >= 1000000000L) {
        until.tv_sec += 1;
        until.tv_nsec -= 1000000000L;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

uint64_t PlatMillis() { return NowMs(); }
