// Serial ports with Win32 comm behaviour on POSIX terminals.
//
// Opening: the Windows port name ("COM3") is looked up in the ports
// directory, whose entry links to the device; only character devices are
// opened. The port is locked with flock against a second opener (Windows
// opens COM ports without sharing) and switched to raw mode at once, as a
// Windows COM port is never cooked. The descriptor stays non-blocking: every
// wait is a poll() with the Win32 time-outs computed on the library clock.
//
// Comm state: the DCB fields map to termios (speed, CSIZE, PARENB/PARODD/
// CMSPAR, CSTOPB, CRTSCTS). Linux has no input-only hardware flow control,
// so CTS output flow control (fOutxCtsFlow) selects CRTSCTS and RTS
// handshaking alone raises RTS: the PC reads promptly, so it never needs to
// hold the device back. DTR and RTS are set through the modem lines where the
// device has them (a pty has none; that is not an error). The native termios
// travels in OsDcb::native so that what the library does not name is kept.
//
// Read time-outs follow COMMTIMEOUTS: the read ends when all bytes came, when
// ReadIntervalTimeout passes between two bytes (after the first), or when
// ReadTotalTimeoutMultiplier x size + ReadTotalTimeoutConstant passes; a zero
// limit does not apply; MAXDWORD/0/0 returns at once with what is queued,
// and MAXDWORD/MAXDWORD/constant returns as soon as a byte is there, waiting
// up to the constant for the first one.
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "Pc/Os/OsClock.h"
#include "Pc/Os/OsComPorts.h"
#include "Pc/Os/OsEvent_posix.h"
#include "Pc/Os/OsSerial.h"
#include "Pc/Os/OsTime_posix.h"

#if defined(__linux__)
#include <linux/serial.h>
#endif

namespace vos {
namespace {

constexpr uint32_t kPortMagic = 0x506F7254u;  // "PorT"
constexpr uint32_t kPortDead = 0xDEAD9047u;
constexpr uint32_t kNativeMagic = 0x54696F73u;  // "Tios"
constexpr uint32_t kMaxDword = 0xFFFFFFFFu;
constexpr int64_t kNoDeadline = INT64_MAX;

// ClearCommError error bits.
constexpr uint32_t kCeRxOver = 0x0001;
constexpr uint32_t kCeOverrun = 0x0002;
constexpr uint32_t kCeRxParity = 0x0004;
constexpr uint32_t kCeFrame = 0x0008;
constexpr uint32_t kCeBreak = 0x0010;

struct NativeState {
    uint32_t magic;
    struct termios tio;
};
static_assert(sizeof(NativeState) <= sizeof(OsDcb::native), "termios does not fit the DCB");

struct ErrorCounts {
    int overrun = 0, bufOverrun = 0, parity = 0, frame = 0, brk = 0;
};

struct Port {
    uint32_t magic = kPortMagic;
    int fd = -1;
    // Set at the opening when the driver keeps no line-error counters (a
    // pty): ClearCommError then stops asking for them.
    bool noCounters = false;
    // The eventfd through which SerialWaitInput's stop event wakes its poll;
    // made on first use and kept, as one thread at a time waits on a port.
    int wakeFd = -1;
    // Read-ahead: SerialRead takes what the driver has queued in one read
    // and keeps the bytes beyond the caller's count for the next call, so a
    // receiver that reads a frame's header and then its rest costs one
    // system call, not two. The bytes count as queued (ClearCommError,
    // SerialWaitInput) and a purge of the input drops them. Calls of
    // SerialRead are serialised by readLock; the indices are also guarded
    // by `lock` for the queue counts.
    std::mutex readLock;
    uint8_t ahead[4096];
    uint32_t aheadAt = 0;
    uint32_t aheadEnd = 0;
    std::mutex lock;  // guards the fields below
    OsCommTimeouts timeouts;
    uint8_t dtrControl = 1;
    uint8_t rtsControl = 1;
    ErrorCounts counts;
};

Port* AsPort(OsHandle handle) {
    if (!IsValidHandle(handle)) return nullptr;
    Port* p = static_cast<Port*>(handle);
    return p->magic == kPortMagic ? p : nullptr;
}

struct BaudEntry {
    uint32_t baud;
    speed_t speed;
};
const BaudEntry kBauds[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000},
};

bool SpeedFor(uint32_t baud, speed_t* speed) {
    for (const BaudEntry& e : kBauds)
        if (e.baud == baud) {
            *speed = e.speed;
            return true;
        }
    return false;
}

uint32_t BaudFor(speed_t speed) {
    for (const BaudEntry& e : kBauds)
        if (e.speed == speed) return e.baud;
    return 0;
}

void MakeRaw(struct termios* tio) {
    cfmakeraw(tio);
    tio->c_cflag |= CLOCAL | CREAD;
    tio->c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    // VMIN 1 with the non-blocking descriptor: a read returns what is queued
    // or fails with EAGAIN, and only a hung-up line returns 0.
    tio->c_cc[VMIN] = 1;
    tio->c_cc[VTIME] = 0;
}

void SetModemLine(int fd, int line, bool on) {
    int bits = line;
    (void)ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits);  // a pty has no modem lines
}

int64_t RealNs(uint64_t clockMs) {
    uint32_t ms = clockMs >= kMaxDword ? kMaxDword - 1 : static_cast<uint32_t>(clockMs);
    return static_cast<int64_t>(OsRealMs(ms)) * 1000000LL;
}

// Waits for the events on the descriptors until the deadline (kNoDeadline:
// none). ppoll is a cancellation point. Returns poll's result.
int PollUntil(struct pollfd* fds, nfds_t count, int64_t deadline) {
    for (;;) {
        int rc;
        if (deadline == kNoDeadline) {
            rc = ppoll(fds, count, nullptr, nullptr);
        } else {
            struct timespec left = posix::NsToTimespec(deadline - posix::MonoNowNs());
            rc = ppoll(fds, count, &left, nullptr);
        }
        if (rc >= 0 || errno != EINTR) return rc;
    }
}

uint32_t QueuedBytes(int fd) {
    int n = 0;
    if (ioctl(fd, FIONREAD, &n) != 0 || n < 0) return 0;
    return static_cast<uint32_t>(n);
}

uint32_t AheadBytes(Port* port) {
    std::lock_guard<std::mutex> lock(port->lock);
    return port->aheadEnd - port->aheadAt;
}

// Moves up to `want` read-ahead bytes to `out`; the count moved.
uint32_t TakeAhead(Port* port, uint8_t* out, uint32_t want) {
    std::lock_guard<std::mutex> lock(port->lock);
    const uint32_t n = std::min(want, port->aheadEnd - port->aheadAt);
    if (n) std::memcpy(out, port->ahead + port->aheadAt, n);
    port->aheadAt += n;
    if (port->aheadAt == port->aheadEnd) port->aheadAt = port->aheadEnd = 0;
    return n;
}

}  // namespace

OsHandle SerialOpen(const char* name) {
    if (!name || !*name || std::strchr(name, '/') || std::strcmp(name, ".") == 0 ||
        std::strcmp(name, "..") == 0)
        return InvalidHandle();
    std::string path = PortsDirectory() + "/" + name;
    int fd;
    do {
        fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return InvalidHandle();
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return InvalidHandle();
    }
    struct termios tio;
    if (tcgetattr(fd, &tio) == 0) {
        MakeRaw(&tio);
        (void)tcsetattr(fd, TCSANOW, &tio);
    }
    Port* port = new (std::nothrow) Port();
    if (!port) {
        close(fd);
        return InvalidHandle();
    }
    port->fd = fd;
#if defined(TIOCGICOUNT)
    // Line errors count from the opening on.
    struct serial_icounter_struct ic;
    std::memset(&ic, 0, sizeof ic);
    if (ioctl(fd, TIOCGICOUNT, &ic) == 0) {
        port->counts.bufOverrun = ic.buf_overrun;
        port->counts.overrun = ic.overrun;
        port->counts.parity = ic.parity;
        port->counts.frame = ic.frame;
        port->counts.brk = ic.brk;
    } else {
        port->noCounters = true;
    }
#else
    port->noCounters = true;
#endif
    int bits = 0;
    if (ioctl(fd, TIOCMGET, &bits) == 0) {
        port->dtrControl = (bits & TIOCM_DTR) ? 1 : 0;
        port->rtsControl = (bits & TIOCM_RTS) ? 1 : 0;
    }
    return port;
}

bool SerialGetState(OsHandle handle, OsDcb* dcb) {
    Port* port = AsPort(handle);
    struct termios tio;
    if (!port || !dcb || tcgetattr(port->fd, &tio) != 0) return false;
    dcb->BaudRate = BaudFor(cfgetospeed(&tio));
    switch (tio.c_cflag & CSIZE) {
    case CS5: dcb->ByteSize = 5; break;
    case CS6: dcb->ByteSize = 6; break;
    case CS7: dcb->ByteSize = 7; break;
    default: dcb->ByteSize = 8; break;
    }
    if (!(tio.c_cflag & PARENB)) dcb->Parity = 0;
    else if (tio.c_cflag & CMSPAR) dcb->Parity = (tio.c_cflag & PARODD) ? 3 : 4;  // MARK, SPACE
    else dcb->Parity = (tio.c_cflag & PARODD) ? 1 : 2;                             // ODD, EVEN
    dcb->StopBits = (tio.c_cflag & CSTOPB) ? 2 : 0;
    dcb->fOutxCtsFlow = (tio.c_cflag & CRTSCTS) != 0;
    dcb->fOutxDsrFlow = false;
    {
        std::lock_guard<std::mutex> lock(port->lock);
        dcb->fDtrControl = port->dtrControl;
        dcb->fRtsControl = port->rtsControl;
    }
    NativeState native;
    std::memset(&native, 0, sizeof native);
    native.magic = kNativeMagic;
    native.tio = tio;
    std::memcpy(dcb->native, &native, sizeof native);
    return true;
}

bool SerialSetState(OsHandle handle, const OsDcb* dcb) {
    Port* port = AsPort(handle);
    if (!port || !dcb) return false;
    struct termios tio;
    NativeState native;
    std::memcpy(&native, dcb->native, sizeof native);
    if (native.magic == kNativeMagic) tio = native.tio;
    else if (tcgetattr(port->fd, &tio) != 0) return false;

    speed_t speed;
    if (!SpeedFor(dcb->BaudRate, &speed)) return false;
    tcflag_t size;
    switch (dcb->ByteSize) {
    case 5: size = CS5; break;
    case 6: size = CS6; break;
    case 7: size = CS7; break;
    case 8: size = CS8; break;
    default: return false;
    }
    MakeRaw(&tio);
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    tio.c_cflag = (tio.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | size;
    tio.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    switch (dcb->Parity) {
    case 0: break;
    case 1: tio.c_cflag |= PARENB | PARODD; break;
    case 2: tio.c_cflag |= PARENB; break;
    case 3: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case 4: tio.c_cflag |= PARENB | CMSPAR; break;
    default: return false;
    }
    if (dcb->Parity != 0) tio.c_iflag |= INPCK;
    if (dcb->StopBits > 2) return false;
    if (dcb->StopBits != 0) tio.c_cflag |= CSTOPB;  // 1.5 stop bits: the nearest is 2
    if (dcb->fOutxCtsFlow) tio.c_cflag |= CRTSCTS;
    if (tcsetattr(port->fd, TCSANOW, &tio) != 0) return false;

    // DTR_CONTROL_HANDSHAKE and RTS_CONTROL_TOGGLE have no Linux equivalent:
    // the line is raised.
    SetModemLine(port->fd, TIOCM_DTR, dcb->fDtrControl != 0);
    if (!(tio.c_cflag & CRTSCTS)) SetModemLine(port->fd, TIOCM_RTS, dcb->fRtsControl != 0);
    std::lock_guard<std::mutex> lock(port->lock);
    port->dtrControl = dcb->fDtrControl;
    port->rtsControl = dcb->fRtsControl;
    return true;
}

bool SerialSetTimeouts(OsHandle handle, const OsCommTimeouts* timeouts) {
    Port* port = AsPort(handle);
    if (!port || !timeouts) return false;
    std::lock_guard<std::mutex> lock(port->lock);
    port->timeouts = *timeouts;
    return true;
}

bool SerialPurge(OsHandle handle, uint32_t flags) {
    Port* port = AsPort(handle);
    if (!port) return false;
    bool rx = (flags & (kPurgeRxAbort | kPurgeRxClear)) != 0;
    bool tx = (flags & (kPurgeTxAbort | kPurgeTxClear)) != 0;
    if (!rx && !tx) return true;
    if (rx) {
        std::lock_guard<std::mutex> lock(port->lock);
        port->aheadAt = port->aheadEnd = 0;
    }
    return tcflush(port->fd, rx && tx ? TCIOFLUSH : (rx ? TCIFLUSH : TCOFLUSH)) == 0;
}

bool SerialClearError(OsHandle handle, uint32_t* errors, uint32_t* inQueue) {
    Port* port = AsPort(handle);
    if (!port) return false;
    int n = 0;
    if (ioctl(port->fd, FIONREAD, &n) != 0) return false;
    uint32_t bits = 0;
#if defined(TIOCGICOUNT)
    // Line errors since the previous call, where the driver counts them.
    struct serial_icounter_struct ic;
    std::memset(&ic, 0, sizeof ic);
    if (!port->noCounters && ioctl(port->fd, TIOCGICOUNT, &ic) == 0) {
        std::lock_guard<std::mutex> lock(port->lock);
        ErrorCounts& c = port->counts;
        if (ic.buf_overrun != c.bufOverrun) bits |= kCeRxOver;
        if (ic.overrun != c.overrun) bits |= kCeOverrun;
        if (ic.parity != c.parity) bits |= kCeRxParity;
        if (ic.frame != c.frame) bits |= kCeFrame;
        if (ic.brk != c.brk) bits |= kCeBreak;
        c.bufOverrun = ic.buf_overrun;
        c.overrun = ic.overrun;
        c.parity = ic.parity;
        c.frame = ic.frame;
        c.brk = ic.brk;
    }
#endif
    if (errors) *errors = bits;
    if (inQueue) *inQueue = (n > 0 ? static_cast<uint32_t>(n) : 0) + AheadBytes(port);
    return true;
}

bool SerialRead(OsHandle handle, void* buffer, uint32_t size, uint32_t* read) {
    if (read) *read = 0;
    Port* port = AsPort(handle);
    if (!port || (!buffer && size)) return false;
    if (size == 0) return true;
    OsCommTimeouts t;
    {
        std::lock_guard<std::mutex> lock(port->lock);
        t = port->timeouts;
    }
    const bool returnAtOnce = t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == 0 &&
                              t.ReadTotalTimeoutConstant == 0;
    const bool returnOnFirst = t.ReadIntervalTimeout == kMaxDword &&
                               t.ReadTotalTimeoutMultiplier == kMaxDword &&
                               t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != kMaxDword;
    int64_t totalDeadline = kNoDeadline;
    int64_t intervalNs = -1;
    if (returnOnFirst) {
        totalDeadline = posix::MonoNowNs() + RealNs(t.ReadTotalTimeoutConstant);
    } else {
        uint64_t total = static_cast<uint64_t>(t.ReadTotalTimeoutMultiplier) * size + t.ReadTotalTimeoutConstant;
        if (total != 0) totalDeadline = posix::MonoNowNs() + RealNs(total);
        if (t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != kMaxDword)
            intervalNs = RealNs(t.ReadIntervalTimeout);
    }

    std::lock_guard<std::mutex> reading(port->readLock);
    uint8_t* out = static_cast<uint8_t*>(buffer);
    uint32_t got = TakeAhead(port, out, size);
    int64_t lastByte = got ? posix::MonoNowNs() : 0;
    bool ok = true;
    if (got && returnOnFirst) {
        if (read) *read = got;
        return true;
    }
    while (got < size) {
        // Only this call fills the read-ahead buffer, and it is empty here.
        ssize_t n = ::read(port->fd, port->ahead, sizeof port->ahead);
        if (n > 0) {
            {
                std::lock_guard<std::mutex> lock(port->lock);
                port->aheadAt = 0;
                port->aheadEnd = static_cast<uint32_t>(n);
            }
            got += TakeAhead(port, out + got, size - got);
            lastByte = posix::MonoNowNs();
            if (returnOnFirst) break;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            ok = false;  // the device is gone: end of file or EIO after a hang-up
            break;
        }
        if (returnAtOnce) break;
        int64_t deadline = totalDeadline;
        if (intervalNs >= 0 && got > 0) deadline = std::min(deadline, lastByte + intervalNs);
        if (deadline != kNoDeadline && posix::MonoNowNs() >= deadline) break;
        struct pollfd pfd = {port->fd, POLLIN, 0};
        int rc = PollUntil(&pfd, 1, deadline);
        if (rc < 0) {
            ok = false;
            break;
        }
        if (rc > 0 && !(pfd.revents & POLLIN)) {
            ok = false;  // hang-up or error without data
            break;
        }
    }
    if (read) *read = got;
    return ok;
}

bool SerialWrite(OsHandle handle, const void* data, uint32_t size, uint32_t* written) {
    if (written) *written = 0;
    Port* port = AsPort(handle);
    if (!port || (!data && size)) return false;
    OsCommTimeouts t;
    {
        std::lock_guard<std::mutex> lock(port->lock);
        t = port->timeouts;
    }
    uint64_t total = static_cast<uint64_t>(t.WriteTotalTimeoutMultiplier) * size + t.WriteTotalTimeoutConstant;
    int64_t deadline = total == 0 ? kNoDeadline : posix::MonoNowNs() + RealNs(total);
    uint32_t done = 0;
    bool ok = true;
    while (done < size) {
        ssize_t n = ::write(port->fd, static_cast<const char*>(data) + done, size - done);
        if (n > 0) {
            done += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            ok = false;
            break;
        }
        // The output queue is full: wait for room until the write time-out,
        // which ends the write with the bytes written so far.
        if (deadline != kNoDeadline && posix::MonoNowNs() >= deadline) break;
        struct pollfd pfd = {port->fd, POLLOUT, 0};
        int rc = PollUntil(&pfd, 1, deadline);
        if (rc < 0 || (rc > 0 && !(pfd.revents & POLLOUT))) {
            ok = false;
            break;
        }
    }
    if (written) *written = done;
    return ok;
}

bool SerialWaitInput(OsHandle handle, OsHandle stopEvent, uint32_t timeoutMs) {
    Port* port = AsPort(handle);
    if (!port) return false;
    // Read-ahead bytes are invisible to poll; the driver's queue is not (the
    // poll below returns at once when it holds bytes).
    if (AheadBytes(port) > 0) return true;
    uint32_t realMs = OsRealMs(timeoutMs);
    int64_t deadline = realMs == kOsInfinite ? kNoDeadline : posix::DeadlineNs(realMs);

    // The stop event wakes the poll through the port's eventfd, emptied
    // whenever a poll finds it readable.
    int wakeFd = -1;
    if (stopEvent) {
        if (port->wakeFd < 0) port->wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        wakeFd = port->wakeFd;
        if (wakeFd < 0) return false;
    }
    posix::EventWatch watch;
    if (stopEvent && !watch.Start(stopEvent, wakeFd)) return false;

    struct pollfd fds[2] = {{port->fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    nfds_t count = stopEvent ? 2 : 1;
    int rc = PollUntil(fds, count, deadline);
    if (rc <= 0) return false;
    if (stopEvent && (fds[1].revents & POLLIN)) {
        uint64_t drained;
        while (::read(wakeFd, &drained, sizeof drained) > 0) {
        }
    }
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
        if (QueuedBytes(port->fd) > 0) return true;
        // The device hung up: nothing will arrive, so do not return at once
        // (the caller would spin); wait for the stop event or the time-out.
        if (stopEvent && !(fds[1].revents & POLLIN)) PollUntil(&fds[1], 1, deadline);
        else if (!stopEvent) PollUntil(nullptr, 0, deadline);
        return false;
    }
    return (fds[0].revents & POLLIN) != 0;
}

void SerialClose(OsHandle handle) {
    Port* port = AsPort(handle);
    if (!port) return;
    close(port->fd);
    if (port->wakeFd >= 0) close(port->wakeFd);
    port->magic = kPortDead;
    delete port;
}

}  // namespace vos
