// SPDX-License-Identifier: MIT
// stbsim as a child process for the simulator's own process tests: started
// with a pipe on its output, read line by line, reaped within a bound.
#pragma once
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace simtest {

using Clock = std::chrono::steady_clock;

struct Proc {
    pid_t pid = -1;
    int out = -1;  // the child's stdout and stderr
};

inline Proc Spawn(const std::vector<std::string>& args, const std::string& dir)
{
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        close(fds[0]);
        close(fds[1]);
        if (!dir.empty() && chdir(dir.c_str()) != 0)
            _exit(127);
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    return {pid, fds[0]};
}

// True when fd has something to read (or has ended) before `until`.
inline bool Readable(int fd, Clock::time_point until)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    if (left <= 0)
        return false;
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, static_cast<int>(left)) > 0;
}

// Reads up to and including a newline, or what came before EOF or the bound.
inline std::string ReadLine(int fd, int timeoutMs)
{
    std::string line;
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Readable(fd, until)) {
        char c;
        if (read(fd, &c, 1) != 1)
            break;
        if (c == '\n')
            return line;
        line += c;
    }
    return line;
}

inline std::string ReadRest(int fd, int timeoutMs)
{
    std::string all;
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Readable(fd, until)) {
        char buf[4096];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        all.append(buf, static_cast<std::size_t>(n));
    }
    return all;
}

// The exit status, or -1 when the child had to be killed.
inline int Reap(pid_t pid, int timeoutMs)
{
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    for (;;) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (Clock::now() >= until)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

inline std::string LastLine(const std::string& text)
{
    std::string t = text;
    while (!t.empty() && t.back() == '\n')
        t.pop_back();
    const auto nl = t.rfind('\n');
    return nl == std::string::npos ? t : t.substr(nl + 1);
}

}  // namespace simtest
