// SPDX-License-Identifier: MIT
#include "bench_proc.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {

int64_t MonoNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

pid_t Spawn(const std::vector<std::string>& argv, int in, int out, int err, const std::string& cwd,
            const std::vector<std::string>& env)
{
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    const int devnull = open("/dev/null", O_RDWR);
    dup2(in >= 0 ? in : devnull, 0);
    dup2(out >= 0 ? out : devnull, 1);
    dup2(err >= 0 ? err : devnull, 2);
    for (int fd = 3; fd < 1024; ++fd)
        close(fd);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0)
        _exit(126);
    for (const std::string& e : env)
        putenv(const_cast<char*>(e.c_str()));
    execvp(args[0], args.data());
    _exit(127);
}

Ended WaitChild(pid_t pid, int timeoutMs)
{
    Ended e;
    const int64_t deadline = MonoNs() + int64_t(timeoutMs) * 1000000;
    for (;;) {
        int status = 0;
        rusage ru{};
        const pid_t r = wait4(pid, &status, WNOHANG, &ru);
        if (r == pid) {
            e.ended = true;
            e.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            e.cpuSeconds = double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                           double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
            return e;
        }
        if (r < 0 && errno != EINTR)
            return e;
        if (MonoNs() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            return e;
        }
        usleep(2000);
    }
}

double CpuSecondsOf(pid_t pid)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    // The command name may hold spaces: the fields start after its ')'.
    const size_t close = all.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream rest(all.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    // Fields 3..13 come first; utime and stime are fields 14 and 15.
    for (int i = 3; i <= 13; ++i)
        rest >> field;
    rest >> utime >> stime;
    if (!rest)
        return -1;
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

}  // namespace bench
