// SPDX-License-Identifier: MIT
#include "bench_proc.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <signal.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace bench {

int64_t MonoNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

Pty::~Pty()
{
    if (master >= 0)
        close(master);
}

bool Pty::Open()
{
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        return false;
    const char* name = ptsname(master);
    if (!name)
        return false;
    const int fd = open(name, O_RDWR | O_NOCTTY);
    if (fd < 0)
        return false;
    termios t;
    const bool raw = tcgetattr(fd, &t) == 0 && (cfmakeraw(&t), tcsetattr(fd, TCSANOW, &t) == 0);
    close(fd);
    if (!raw)
        return false;
    slave = name;
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    return true;
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

bool WriteFileBytes(const std::string& path, const std::string& data)
{
    std::ofstream f(path, std::ios::binary);
    f.write(data.data(), std::streamsize(data.size()));
    return bool(f);
}

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

std::string RandomBytes(size_t count, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(count, '\0');
    for (char& c : s)
        c = char(gen() & 0xFF);
    return s;
}

std::string MakeTempDir()
{
    char tmpl[] = "/tmp/marbrix-wire.XXXXXX";
    const char* d = mkdtemp(tmpl);
    return d ? d : "";
}

void RemoveTree(const std::string& dir)
{
    if (dir.empty() || dir.compare(0, 5, "/tmp/") != 0)
        return;
    const pid_t pid = Spawn({"rm", "-rf", "--", dir}, -1, -1, -1);
    WaitChild(pid, 30000);
}

}  // namespace bench
