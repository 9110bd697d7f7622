// SPDX-License-Identifier: MIT
// POSIX backend of the port seam: a tty or pty driven through termios.
//
// The descriptor is non-blocking: the engine reads only after the queue
// count says bytes are waiting, and a write is bounded as the Windows
// backend's write time-out is (50 ms per byte plus 500 ms), so nothing on this
// side can hang on a dead line. MARBRIX_TRACE=1 traces every platform call
// to standard error.
#include "port_trace.h"
#include "serial_port.h"

#include "port_holders.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

int PortSetCustomBaud(int fd, uint32_t rate);

namespace {

// termios's constants for the rates of kPortRates; a rate without one
// (14400) is set as a custom rate.
struct SpeedEntry {
    uint32_t rate;
    speed_t code;
};

const SpeedEntry kSpeedCodes[] = {
    {2400, B2400},     {4800, B4800},   {9600, B9600},     {19200, B19200},
    {38400, B38400},   {57600, B57600}, {115200, B115200},
#ifdef B230400
    {230400, B230400},
#endif
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B921600
    {921600, B921600},
#endif
};

// 0: no constant, set the rate as a custom one.
speed_t SpeedCode(uint32_t rate)
{
    for (const SpeedEntry& s : kSpeedCodes)
        if (s.rate == rate)
            return s.code;
    return 0;
}

int64_t MonoUs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

int64_t MonoMs()
{
    return MonoUs() / 1000;
}

constexpr int kTickMs = 10;

// The pipe PortWakeWaits writes to and every long wait also polls: a stop
// asked for on another thread ends the wait at once. Made on first use and
// kept for the life of the process; both ends non-blocking, so a wake never
// blocks the caller and a drain never blocks the waiter. -1 when no pipe
// could be made: waits then sleep tick by tick.
const int* WakePipe()
{
    static int fds[2] = {-1, -1};
    static const bool made = [] {
#ifdef __linux__
        // At once close-on-exec: a child started meanwhile by another
        // thread must not inherit it.
        if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
            fds[0] = fds[1] = -1;
            return false;
        }
#else
        if (pipe(fds) != 0) {
            fds[0] = fds[1] = -1;
            return false;
        }
        for (int fd : fds) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
            fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
#endif
        return true;
    }();
    (void)made;
    return fds;
}

class PosixLine : public PortLine {
public:
    explicit PosixLine(int fd) : m_fd(fd) {}
    ~PosixLine() override
    {
        PORT_TRACE("close(fd=%d)", m_fd);
        flock(m_fd, LOCK_UN);
        ioctl(m_fd, TIOCNXCL);
        close(m_fd);
    }

    bool QueueStatus(PortQueueStatus* st) override
    {
        int in = 0, out = 0;
        if (ioctl(m_fd, FIONREAD, &in) < 0) {
            PORT_TRACE("FIONREAD failed: %s", strerror(errno));
            NoteFailure(errno);
            return false;
        }
        m_lost = nullptr;
        // A pty has no transmit queue to report; its driver answers 0.
        if (ioctl(m_fd, TIOCOUTQ, &out) < 0)
            out = 0;
        st->cbInQue = in < 0 ? 0 : uint32_t(in);
        st->cbOutQue = out < 0 ? 0 : uint32_t(out);
        m_lastIn = st->cbInQue;
        PORT_TRACE("status in=%u out=%u", st->cbInQue, st->cbOutQue);
        return true;
    }

    bool InQueue(uint32_t* in) override
    {
        int n = 0;
        if (ioctl(m_fd, FIONREAD, &n) < 0) {
            PORT_TRACE("FIONREAD failed: %s", strerror(errno));
            NoteFailure(errno);
            return false;
        }
        m_lost = nullptr;
        *in = n < 0 ? 0 : uint32_t(n);
        m_lastIn = *in;
        PORT_TRACE("status in=%u", *in);
        return true;
    }

    bool Read(uint8_t* buf, uint32_t count, uint32_t* got) override
    {
        *got = 0;
        ssize_t n = read(m_fd, buf, count);
        if (n < 0) {
            PORT_TRACE("read(%u) failed: %s", count, strerror(errno));
            NoteFailure(errno);
            return false;
        }
        // Bytes were reported waiting, so an end of file is a hung-up line.
        if (n == 0 && count > 0 && m_lastIn > 0) {
            PORT_TRACE("read(%u) = 0: hung up", count);
            m_lost = "the line was hung up";
            return false;
        }
        m_lost = nullptr;
        *got = uint32_t(n);
        PORT_TRACE("read(%u) = %zd", count, n);
        return true;
    }

    bool Write(const uint8_t* buf, uint32_t count, uint32_t* put) override
    {
        *put = 0;
        // The clock is read only once the driver pushes back: nearly every
        // write, a whole YMODEM block included, goes straight in.
        int64_t deadline = -1;
        while (*put < count) {
            ssize_t n = write(m_fd, buf + *put, count - *put);
            if (n > 0) {
                *put += uint32_t(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                PORT_TRACE("write(%u) failed after %u: %s", count, *put, strerror(errno));
                NoteFailure(errno);
                return false;
            }
            if (deadline < 0)
                deadline = MonoMs() + 50 * int64_t(count) + 500;
            int64_t left = deadline - MonoMs();
            if (left <= 0) {
                PORT_TRACE("write(%u) timed out after %u", count, *put);
                return false;
            }
            // A stop request ends the wait within a tick.
            if (WriteGivenUp()) {
                PORT_TRACE("write(%u) given up after %u", count, *put);
                return false;
            }
            pollfd p = {m_fd, POLLOUT, 0};
            poll(&p, 1, left < 10 ? int(left) : 10);
        }
        m_lost = nullptr;
        PORT_TRACE("write(%u) = %u", count, *put);
        return true;
    }

    // One tick is 10 ms. When the last query found the receive queue empty,
    // the tick ends early as soon as a byte arrives: a quiet line still
    // waits the full time, but a reply is seen at once rather than up to a
    // tick late, which on a real line is some 5 % of every YMODEM block.
    void SleepTick() override
    {
        if (m_lastIn == 0) {
            pollfd p = {m_fd, POLLIN, 0};
            int r = poll(&p, 1, 10);
            if (r == 0)
                return;  // the full 10 ms passed
            if (r > 0 && (p.revents & POLLIN) && !(p.revents & (POLLHUP | POLLERR | POLLNVAL)))
                return;
            if (r > 0 && (p.revents & POLLHUP) && !m_lost)
                m_lost = "the line was hung up";
            // A hung-up or failing line would wake poll at once: sleep the
            // tick out instead of spinning.
        }
        timespec ts = {0, 10 * 1000 * 1000};
        while (nanosleep(&ts, &ts) < 0 && errno == EINTR) {
        }
    }

    // One poll for the whole wait, on the line and on the wake pipe. Only a
    // line that was found empty and is not failing waits this way; anything
    // else (bytes reported, a failing or hung-up line, no wake pipe) sleeps
    // a single tick as SleepTick does, so the lost-port watch still counts
    // such a line tick by tick.
    int SleepTicks(int ticks) override
    {
        const int wake = WakePipe()[0];
        if (ticks <= 1 || m_lastIn != 0 || m_lost || wake < 0) {
            SleepTick();
            return 1;
        }
        pollfd p[2] = {{m_fd, POLLIN, 0}, {wake, POLLIN, 0}};
        const int64_t from = MonoUs();
        const int r = poll(p, 2, ticks * kTickMs);
        const int64_t spent = MonoUs() - from;
        if (r < 0 && errno != EINTR) {
            SleepTick();
            return 1;
        }
        const int64_t tickUs = kTickMs * 1000;
        if (r > 0 && (p[0].revents & (POLLHUP | POLLERR | POLLNVAL))) {
            // The ticks the line was still there, and one more that notes
            // the hang-up and is slept out.
            SleepTick();
            const int64_t passed = spent / tickUs + 1;
            return passed < ticks ? int(passed) : ticks;
        }
        if (r > 0 && (p[1].revents & POLLIN)) {
            char drain[64];
            while (read(wake, drain, sizeof drain) > 0) {
            }
        }
        if (r == 0)
            return ticks;
        // A byte: the ticks begun, as the same wait made of single ticks
        // would count them. A wake alone (a stop, or one left over from an
        // earlier stop): only the ticks that passed whole, so that a stale
        // wake costs the wait nothing.
        const int64_t passed =
            (p[0].revents & POLLIN) ? std::max<int64_t>(1, (spent + tickUs - 1) / tickUs) : spent / tickUs;
        PORT_TRACE("waited %lld us of %d ticks", (long long)spent, ticks);
        return passed < ticks ? int(passed) : ticks;
    }

    // A plain sleep: the wait for the transmit queue knows how long its
    // bytes need, and a reply arriving meanwhile is read after it anyway.
    int64_t SleepShort(int64_t us) override
    {
        const int64_t from = MonoUs();
        timespec ts = {time_t(us / 1000000), long(us % 1000000) * 1000};
        while (nanosleep(&ts, &ts) < 0 && errno == EINTR) {
        }
        const int64_t slept = MonoUs() - from;
        return slept > 0 ? slept : 1;
    }

    const char* LostReason() const override { return m_lost; }

private:
    // The errors a tty gives once its device is gone: a hung-up line, an
    // unplugged adapter, a pty whose master was closed.
    void NoteFailure(int err)
    {
        if (err == EIO || err == ENXIO || err == ENODEV || err == EBADF)
            m_lost = strerror(err);
    }

    int m_fd;
    uint32_t m_lastIn = 0;
    const char* m_lost = nullptr;  // strerror's text or a literal: never freed
};

void SetError(PortOpenError* e, int code, const std::string& what)
{
    if (!e)
        return;
    e->code = code;
    e->text = what + ": " + strerror(code);
}

}  // namespace

namespace {

// The line PortOpenDevice hands out; it keeps its descriptor so that
// PortReleaseDevice can let go of the device without closing it.
class DeviceLine final : public PosixLine {
public:
    explicit DeviceLine(int fd) : PosixLine(fd), m_device(fd) {}
    void Release()
    {
        PORT_TRACE("release(fd=%d)", m_device);
        flock(m_device, LOCK_UN);
        ioctl(m_device, TIOCNXCL);
    }

private:
    int m_device;
};

// USB adapters hold received bytes for their latency timer (16 ms on
// FTDI-style chips) before passing them on, which delays every ACK of a
// YMODEM transfer. The low-latency flag asks the driver to pass them at
// once. Drivers that have no such setting (ptys, many UARTs) refuse it;
// the line works all the same, so a refusal is only traced.
void AskLowLatency(int fd)
{
#if defined(__linux__) && defined(TIOCGSERIAL) && defined(ASYNC_LOW_LATENCY)
    serial_struct ss;
    memset(&ss, 0, sizeof ss);
    if (ioctl(fd, TIOCGSERIAL, &ss) < 0) {
        PORT_TRACE("low latency: TIOCGSERIAL refused: %s", strerror(errno));
        return;
    }
    if (ss.flags & ASYNC_LOW_LATENCY) {
        PORT_TRACE("low latency: already set");
        return;
    }
    ss.flags |= ASYNC_LOW_LATENCY;
    if (ioctl(fd, TIOCSSERIAL, &ss) < 0) {
        PORT_TRACE("low latency: TIOCSSERIAL refused: %s", strerror(errno));
        return;
    }
    PORT_TRACE("low latency: set");
#else
    (void)fd;
#endif
}

// Names who else has the device open, for a refusal's message.
void NoteHolders(PortOpenError* e, const struct stat& st)
{
    if (e && S_ISCHR(st.st_mode))
        e->holders = PortDescribeHolders(PortFindHolders(st.st_rdev, st.st_dev));
}

}  // namespace

void PortWakeWaits()
{
    const int fd = WakePipe()[1];
    const char byte = 'W';
    // A full pipe already holds a wake for every waiter.
    if (fd >= 0 && write(fd, &byte, 1) < 0) {
    }
}

PortHandle PortOpenDevice(const char* path, uint32_t baud, PortOpenError* error)
{
    if (!PortBaudSupported(baud)) {
        SetError(error, EINVAL, "unsupported baud rate " + std::to_string(baud));
        return nullptr;
    }
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    PORT_TRACE("open(%s) = %d", path, fd);
    if (fd < 0) {
        int e = errno;
        SetError(error, e, std::string("cannot open ") + path);
        // EBUSY: another program has set the exclusive flag.
        struct stat st {};
        if (e == EBUSY && stat(path, &st) == 0)
            NoteHolders(error, st);
        return nullptr;
    }
    if (!isatty(fd)) {
        close(fd);
        SetError(error, ENOTTY, std::string(path) + " is not a serial device");
        return nullptr;
    }
    // The advisory lock is what keeps a second program off the port: root
    // passes TIOCEXCL, but not a held lock.
    struct stat st {};
    fstat(fd, &st);
    if (flock(fd, LOCK_EX | LOCK_NB) < 0) {
        int e = errno == EWOULDBLOCK ? EBUSY : errno;
        close(fd);
        SetError(error, e, std::string(path) + " is held by another program");
        if (e == EBUSY)
            NoteHolders(error, st);
        return nullptr;
    }
    // A program that took neither the lock nor the exclusive flag still
    // reads the line: sharing it would cost both of us bytes. Checked before
    // the line is configured, so its settings stay as that program left them.
    std::vector<PortHolder> holders = PortFindHolders(st.st_rdev, st.st_dev);
    if (!holders.empty()) {
        flock(fd, LOCK_UN);
        close(fd);
        SetError(error, EBUSY, std::string(path) + " is held by another program");
        if (error)
            error->holders = PortDescribeHolders(holders);
        return nullptr;
    }
    termios tio;
    if (tcgetattr(fd, &tio) < 0) {
        int e = errno;
        close(fd);
        SetError(error, e, std::string("cannot read the line settings of ") + path);
        return nullptr;
    }
    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS | CSIZE);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    const speed_t code = SpeedCode(baud);
    if (code != 0) {
        cfsetispeed(&tio, code);
        cfsetospeed(&tio, code);
    }
    if (tcsetattr(fd, TCSANOW, &tio) < 0 || (code == 0 && PortSetCustomBaud(fd, baud) < 0)) {
        int e = errno;
        close(fd);
        SetError(error, e, std::string("cannot set ") + path + " to raw 8N1 at " + std::to_string(baud));
        return nullptr;
    }
    AskLowLatency(fd);
    // Exclusive only once the line is ours and set up, so a failed open
    // never leaves a pty locked behind it.
    ioctl(fd, TIOCEXCL);
    PORT_TRACE("configured %s at %u 8N1 raw", path, baud);
    DeviceLine* line = new DeviceLine(fd);
    line->SetBaud(baud);
    return line;
}

void PortCloseDevice(PortHandle port)
{
    delete port;
}

void PortReleaseDevice(PortHandle port)
{
    if (auto* line = dynamic_cast<DeviceLine*>(port))
        line->Release();
}

std::string PortDevicePath(const std::string& name)
{
    if (name.size() == 4 && (name.compare(0, 3, "COM") == 0 || name.compare(0, 3, "com") == 0) && name[3] >= '1' &&
        name[3] <= '4')
        return "/dev/ttyS" + std::string(1, char(name[3] - 1));
    return name;
}

std::string PortShortName(const std::string& nameOrPath)
{
    std::string path = PortDevicePath(nameOrPath);
    if (path.size() == 10 && path.compare(0, 9, "/dev/ttyS") == 0 && path[9] >= '0' && path[9] <= '3')
        return "COM" + std::string(1, char(path[9] + 1));
    if (path.compare(0, 5, "/dev/") == 0)
        return path.substr(5);
    return path;
}
