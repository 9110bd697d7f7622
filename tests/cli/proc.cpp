// SPDX-License-Identifier: MIT
#include "proc.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

int64_t MsLeft(Clock::time_point deadline)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
}

void SetNonBlocking(int fd)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

int DecodeStatus(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

Child::~Child()
{
    Kill();
    if (m_outFd >= 0)
        close(m_outFd);
    if (m_errFd >= 0)
        close(m_errFd);
}

bool Child::Spawn(const std::vector<std::string>& argv, const SpawnOptions& o)
{
    int outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1};
    if (o.stdoutFd < 0 && pipe(outPipe) < 0)
        return false;
    if (o.captureStderr && pipe(errPipe) < 0)
        return false;
    pid_t p = fork();
    if (p < 0)
        return false;
    if (p == 0) {
        setpgid(0, 0);
        int in = o.stdinFd >= 0 ? o.stdinFd : open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(o.stdoutFd >= 0 ? o.stdoutFd : outPipe[1], 1);
        if (o.captureStderr)
            dup2(errPipe[1], 2);
        for (int fd = 3; fd < 256; ++fd)
            close(fd);
        if (o.runAsUid >= 0) {
            setgroups(0, nullptr);
            if (setgid(gid_t(o.runAsGid)) < 0 || setuid(uid_t(o.runAsUid)) < 0)
                _exit(126);
        }
        if (!o.cwd.empty() && chdir(o.cwd.c_str()) < 0)
            _exit(126);
        for (const std::string& e : o.env)
            putenv(strdup(e.c_str()));
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        signal(SIGPIPE, SIG_DFL);
        execvp(args[0], args.data());
        _exit(127);
    }
    pid = p;
    if (outPipe[0] >= 0) {
        close(outPipe[1]);
        m_outFd = outPipe[0];
        SetNonBlocking(m_outFd);
    }
    if (errPipe[0] >= 0) {
        close(errPipe[1]);
        m_errFd = errPipe[0];
        SetNonBlocking(m_errFd);
    }
    return true;
}

void Child::Pump(int timeoutMs)
{
    pollfd fds[2];
    int n = 0;
    if (m_outFd >= 0)
        fds[n++] = {m_outFd, POLLIN, 0};
    if (m_errFd >= 0)
        fds[n++] = {m_errFd, POLLIN, 0};
    if (n == 0) {
        usleep(useconds_t(timeoutMs) * 1000);
        return;
    }
    if (poll(fds, nfds_t(n), timeoutMs) <= 0)
        return;
    for (int i = 0; i < n; ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        char buf[65536];
        ssize_t got = read(fds[i].fd, buf, sizeof buf);
        std::string& into = fds[i].fd == m_outFd ? out : err;
        if (got > 0) {
            into.append(buf, size_t(got));
        } else if (got == 0) {
            close(fds[i].fd);
            (fds[i].fd == m_outFd ? m_outFd : m_errFd) = -1;
        }
    }
}

bool Child::WaitForOutput(bool fromStderr, const std::string& needle, int timeoutMs)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const std::string& s = fromStderr ? err : out;
        if (s.find(needle) != std::string::npos)
            return true;
        int64_t left = MsLeft(deadline);
        if (left <= 0)
            return false;
        bool open = fromStderr ? m_errFd >= 0 : m_outFd >= 0;
        if (!open && m_status)
            return false;
        Pump(int(std::min<int64_t>(left, 50)));
        if (!open && !m_status) {
            int st;
            if (waitpid(pid, &st, WNOHANG) == pid)
                m_status = DecodeStatus(st);
        }
    }
}

std::optional<int> Child::Wait(int timeoutMs)
{
    if (m_status)
        return m_status;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int st;
        pid_t r = waitpid(pid, &st, WNOHANG);
        if (r == pid) {
            m_status = DecodeStatus(st);
            // Collect what is left in the pipes (the writers are gone).
            for (int i = 0; i < 100 && (m_outFd >= 0 || m_errFd >= 0); ++i)
                Pump(20);
            return m_status;
        }
        int64_t left = MsLeft(deadline);
        if (left <= 0)
            return std::nullopt;
        Pump(int(std::min<int64_t>(left, 20)));
    }
}

void Child::Signal(int sig)
{
    if (pid > 0 && !m_status)
        kill(pid, sig);
}

void Child::Kill()
{
    if (pid > 0 && !m_status) {
        kill(-pid, SIGKILL);
        kill(pid, SIGKILL);
        int st;
        if (waitpid(pid, &st, 0) == pid)
            m_status = DecodeStatus(st);
    }
}

int RunCommand(const std::vector<std::string>& argv, std::string* out, std::string* err, int timeoutMs)
{
    Child c;
    if (!c.Spawn(argv))
        return -1;
    auto st = c.Wait(timeoutMs);
    if (out)
        *out = c.out;
    if (err)
        *err = c.err;
    return st ? *st : -1;
}

namespace {

// Pause while the master has no peer: poll answers at once then.
constexpr int kNoPeerPauseMs = 5;

void NoPeerPause(int64_t leftMs)
{
    usleep(useconds_t(std::min<int64_t>(std::max<int64_t>(leftMs, 0), kNoPeerPauseMs)) * 1000);
}

}  // namespace

bool WriteAll(int fd, const void* data, size_t size)
{
    const char* p = static_cast<const char*>(data);
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while (size > 0) {
        ssize_t n = write(fd, p, size);
        if (n > 0) {
            p += n;
            size -= size_t(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO)
            return false;
        int64_t left = MsLeft(deadline);
        if (left <= 0)
            return false;
        pollfd pf = {fd, POLLOUT, 0};
        if (poll(&pf, 1, int(std::min<int64_t>(left, 50))) > 0 && !(pf.revents & POLLOUT))
            NoPeerPause(left);
    }
    return true;
}

// Waits up to timeoutMs for bytes on fd and appends them; false when none
// came. A hang-up (no peer on a pty, a closed pipe) is a quiet line here,
// waited out in short pauses.
static bool ReadSome(int fd, std::string* buffer, int timeoutMs, size_t limit = 4096)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int64_t left = MsLeft(deadline);
        pollfd pf = {fd, POLLIN, 0};
        int r = poll(&pf, 1, int(std::max<int64_t>(left, 0)));
        if (r == 0)
            return false;
        if (r > 0 && (pf.revents & POLLIN)) {
            char buf[4096];
            ssize_t n = read(fd, buf, std::min(sizeof buf, limit));
            if (n > 0) {
                buffer->append(buf, size_t(n));
                return true;
            }
        }
        if (r < 0 && errno != EINTR)
            return false;
        left = MsLeft(deadline);
        if (left <= 0)
            return false;
        if (r > 0)
            NoPeerPause(left);
    }
}

bool ReadUntil(int fd, std::string* buffer, const std::string& needle, int timeoutMs)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (buffer->find(needle) == std::string::npos) {
        int64_t left = MsLeft(deadline);
        if (left <= 0)
            return false;
        ReadSome(fd, buffer, int(std::min<int64_t>(left, 50)));
    }
    return true;
}

bool ReadExactly(int fd, std::string* buffer, size_t count, int timeoutMs)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (buffer->size() < count) {
        int64_t left = MsLeft(deadline);
        if (left <= 0)
            return false;
        ReadSome(fd, buffer, int(std::min<int64_t>(left, 50)), count - buffer->size());
    }
    return true;
}

std::string ReadQuiet(int fd, int quietMs, int limitMs)
{
    std::string got;
    auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    while (MsLeft(deadline) > 0 && ReadSome(fd, &got, quietMs)) {
    }
    return got;
}
