// SPDX-License-Identifier: MIT
#include "line.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace stbsim {

namespace {
// A line without a peer answers every poll at once; this pause keeps such a
// wait from spinning while it stays well below any protocol time-out.
constexpr int kNoPeerPauseMs = 5;
// How far ahead of its paced line the box may take bytes already read (see
// CatchUp): more than a 1K block's line time at 921600 bit/s, so such a
// block costs one sleep, and far below the box's shortest time-out (300 ms).
constexpr auto kRunAhead = std::chrono::milliseconds(16);

// Raw bytes at the given speed. A real port also gets 8N1 with its receiver
// on, no hardware flow control and no regard for the modem lines.
void SetRaw(int fd, speed_t speed, bool port)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return;
    cfmakeraw(&t);
    if (port) {
        t.c_cflag |= CLOCAL | CREAD;
        t.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS);
    }
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    tcsetattr(fd, TCSANOW, &t);
}
}  // namespace

void Line::Close()
{
    CatchUp();
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

Line::~Line()
{
    if (fd_ >= 0)
        close(fd_);
}

bool Line::OpenPty(std::string& slaveName, std::string& error)
{
    fd_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (fd_ < 0 || grantpt(fd_) != 0 || unlockpt(fd_) != 0) {
        error = std::string("cannot create a pty: ") + std::strerror(errno);
        return false;
    }
    const char* name = ptsname(fd_);
    if (!name) {
        error = "cannot name the pty slave";
        return false;
    }
    slaveName = name;
    // The settings stay with the pty while the master is open, so the peer
    // finds a raw line even before it sets its own: nothing the box sends
    // early is echoed back or has its line endings changed.
    const int slave = open(name, O_RDWR | O_NOCTTY);
    if (slave < 0) {
        error = "cannot open " + slaveName + ": " + std::strerror(errno);
        return false;
    }
    SetRaw(slave, B115200, false);
    close(slave);
    isPty_ = true;
    fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
    return true;
}

bool Line::PeerHolds() const
{
    if (!isPty_)
        return true;
    pollfd p{fd_, 0, 0};
    return poll(&p, 1, 0) == 0 || (p.revents & POLLHUP) == 0;
}

void Line::Nap(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void Line::WaitForPeer()
{
    while (!PeerHolds()) {
        const int dl = RemainingMs();
        if (dl == 0)
            throw DeadlineExpired{};
        Nap(dl < kNoPeerPauseMs ? dl : kNoPeerPauseMs);
    }
}

namespace {
speed_t SpeedFor(long baud)
{
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 230400:
        return B230400;
    default:
        return B115200;
    }
}
}  // namespace

bool Line::OpenDevice(const std::string& path, long baud, std::string& error)
{
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    SetRaw(fd_, SpeedFor(baud), true);
    return true;
}

void Line::SetPace(long baud)
{
    if (baud <= 0) {
        byteTime_ = Clock::duration{0};
        return;
    }
    // A paced line sleeps once a byte; the kernel's default slack of 50 us
    // on every such sleep would cost a fast line a byte time or more each.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    // 8N1: a start bit, eight data bits and a stop bit per byte.
    byteTime_ = std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(10'000'000'000LL / baud));
}

int Line::RemainingMs() const
{
    if (deadline_ == Clock::time_point::max())
        return 1 << 30;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// A byte is through one byte time after the previous one, or after `from`
// (when it was there to move) if the line was idle. Counting from the
// previous byte, not from the moment of the call, keeps a late wake-up from
// slowing the line down: the bytes behind it are simply due already. At
// 921600 bit/s a byte is 11 us and a sleep wakes some 50 us late.
void Line::Advance(Clock::time_point& cursor, Clock::time_point from)
{
    cursor = (cursor > from ? cursor : from) + byteTime_;
    if (cursor > deadline_)
        throw DeadlineExpired{};
}

void Line::PaceUntil(Clock::time_point& cursor, Clock::time_point from)
{
    if (byteTime_.count() == 0)
        return;
    Advance(cursor, from);
    std::this_thread::sleep_until(cursor);
}

// Nothing the box does with a byte shows before it answers, waits on the
// line or pauses, and each of those catches up with the line first (an
// answer through ReplyFrom). A sleep per received byte (90000 a second at
// 921600 bit/s) would cost far more CPU than the box's work, so the box
// may run ahead of its line by kRunAhead while it takes bytes already read.
void Line::CatchUp()
{
    if (byteTime_.count() != 0 && rxCursor_ > Clock::now())
        std::this_thread::sleep_until(rxCursor_);
}

bool Line::FillFor(int timeoutMs)
{
    // The wait for more starts once the bytes taken are through.
    CatchUp();
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const int left =
            static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count());
        const int dl = RemainingMs();
        if (dl == 0)
            throw DeadlineExpired{};
        int wait = left < 0 ? 0 : left;
        if (wait > dl)
            wait = dl;
        pollfd p{fd_, POLLIN, 0};
        const int r = poll(&p, 1, wait);
        if (r > 0 && (p.revents & POLLIN)) {
            std::uint8_t buf[4096];
            const ssize_t n = read(fd_, buf, sizeof buf);
            if (n > 0) {
                filledAt_ = Clock::now();
                for (ssize_t i = 0; i < n; ++i)
                    in_.push_back(ber_ ? ber_->Apply(buf[i]) : buf[i]);
                return true;
            }
            // A pty whose slave nobody holds fails the read (EIO) once its last
            // bytes are taken; a device without a peer may do the same: quiet.
            Nap(kNoPeerPauseMs);
        } else if (r > 0) {
            Nap(kNoPeerPauseMs);  // a hang-up without data: no peer on the line yet, or no more
        } else if (r < 0 && errno != EINTR) {
            Nap(kNoPeerPauseMs);
        }
        if (Clock::now() >= until) {
            if (RemainingMs() == 0)
                throw DeadlineExpired{};
            return false;
        }
    }
}

int Line::Get(int timeoutMs)
{
    if (in_.empty() && !FillFor(timeoutMs))
        return -1;
    const std::uint8_t b = in_.front();
    in_.pop_front();
    if (byteTime_.count() != 0) {
        Advance(rxCursor_, filledAt_);
        if (rxCursor_ - Clock::now() > kRunAhead)
            std::this_thread::sleep_until(rxCursor_);
    }
    return b;
}

// What the box sends after bytes it took ahead of its line starts once the
// line has carried them. The first byte's sleep covers both, so a reply
// costs one sleep, not two: on a busy host every sleep is a wait for the
// scheduler too.
Line::Clock::time_point Line::ReplyFrom() const
{
    const auto now = Clock::now();
    return byteTime_.count() != 0 && rxCursor_ > now ? rxCursor_ : now;
}

void Line::Put(const std::uint8_t* data, std::size_t len)
{
    const auto from = ReplyFrom();
    std::size_t done = 0;
    std::size_t due = 0;  // bytes whose line time has passed, not yet written
    while (done < len) {
        if (byteTime_.count() == 0) {
            due = len - done;
        } else if (due == 0) {
            PaceUntil(txCursor_, from);
            due = 1;
            // A wake-up late by a few byte times finds those bytes due as
            // well: they go in the same write, none of them early.
            const auto now = Clock::now();
            while (done + due < len && txCursor_ + byteTime_ <= now) {
                Advance(txCursor_, from);
                ++due;
            }
        }
        const ssize_t w = write(fd_, data + done, due);
        if (w > 0) {
            done += static_cast<std::size_t>(w);
            due -= static_cast<std::size_t>(w);
            continue;
        }
        if (w < 0 && errno != EAGAIN && errno != EINTR) {
            // A line that cannot take bytes at all loses them, as a cut cable would;
            // the missing answer then shows up as a time-out.
            return;
        }
        const int dl = RemainingMs();
        if (dl == 0)
            throw DeadlineExpired{};
        pollfd p{fd_, POLLOUT, 0};
        // Without a peer poll returns at once with a hang-up and no room.
        if (poll(&p, 1, dl < 100 ? dl : 100) > 0 && !(p.revents & POLLOUT))
            Nap(kNoPeerPauseMs);
    }
}

void Line::PutBurst(const std::vector<std::uint8_t>& bytes)
{
    const auto from = ReplyFrom();
    if (byteTime_.count() != 0 && !bytes.empty()) {
        for (std::size_t i = 0; i < bytes.size(); ++i)
            Advance(txCursor_, from);
        std::this_thread::sleep_until(txCursor_);
    }
    const auto saved = byteTime_;
    byteTime_ = Clock::duration{0};
    Put(bytes.data(), bytes.size());
    byteTime_ = saved;
}

void Line::Hold(int ms)
{
    CatchUp();
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    if (until > deadline_) {
        std::this_thread::sleep_until(deadline_);
        throw DeadlineExpired{};
    }
    std::this_thread::sleep_until(until);
}

std::size_t Line::DrainQuiet(int quietMs, int maxMs)
{
    const auto until = Clock::now() + std::chrono::milliseconds(maxMs);
    std::size_t dropped = 0;
    while (Clock::now() < until) {
        if (Get(quietMs) < 0)
            break;
        ++dropped;
    }
    return dropped;
}

std::size_t Line::Linger(int ms)
{
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    std::size_t dropped = 0;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0)
            break;
        if (Get(static_cast<int>(left)) >= 0)
            ++dropped;
    }
    return dropped;
}

}  // namespace stbsim
