// SPDX-License-Identifier: MIT
#include "child_process.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

std::atomic<bool> g_stop{false};
int g_wake[2] = {-1, -1};

void OnStopSignal(int)
{
    int saved = errno;
    g_stop = true;
    char c = 'S';
    ssize_t r = write(g_wake[1], &c, 1);
    (void)r;
    errno = saved;
}

}  // namespace

std::string SelfExecutable()
{
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return "marbrix-cli";
    buf[n] = 0;
    return buf;
}

bool ChildSpawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv, ChildHandle* child,
                std::string* why)
{
    int out[2];
    // Close-on-exec on both ends: no other child may hold this pipe open,
    // or the parent would never see the end of this one's stream.
    if (pipe2(out, O_CLOEXEC) < 0) {
        *why = strerror(errno);
        return false;
    }
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> envText;
    const std::string parentKey = std::string(kChildParentEnv) + "=";
    for (char** e = environ; *e; ++e)
        if (strncmp(*e, parentKey.c_str(), parentKey.size()) != 0)
            envText.push_back(*e);
    envText.insert(envText.end(), extraEnv.begin(), extraEnv.end());
    envText.push_back(std::string(kChildParentEnv) + "=" + std::to_string(getpid()));
    std::vector<char*> env;
    for (const std::string& e : envText)
        env.push_back(const_cast<char*>(e.c_str()));
    env.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    // The child starts with the stop signals at their defaults and unblocked,
    // in the parent's process group: a Ctrl-C on the terminal reaches it too.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults, none;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, args[0], &actions, &attr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(out[1]);
    if (rc != 0) {
        close(out[0]);
        *why = strerror(rc);
        return false;
    }
    fcntl(out[0], F_SETFL, fcntl(out[0], F_GETFL) | O_NONBLOCK);
    child->id = pid;
    child->events = out[0];
    return true;
}

void ChildAskToStop(const ChildHandle& child)
{
    if (child.id > 0)
        kill(pid_t(child.id), SIGTERM);
}

void ChildKill(const ChildHandle& child)
{
    if (child.id > 0)
        kill(pid_t(child.id), SIGKILL);
}

int ChildPoll(ChildHandle* child)
{
    if (child->id <= 0)
        return -1;
    int status = 0;
    pid_t r = waitpid(pid_t(child->id), &status, WNOHANG);
    if (r == 0 || (r < 0 && errno == EINTR))
        return -1;
    child->id = -1;
    if (r < 0)
        return 128;
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

long ChildRead(ChildHandle* child, char* buffer, size_t size)
{
    if (child->events < 0)
        return 0;
    ssize_t n = read(child->events, buffer, size);
    if (n > 0)
        return long(n);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return -1;
    close(child->events);
    child->events = -1;
    return 0;
}

void ChildrenWait(const std::vector<ChildHandle*>& children, int timeoutMs)
{
    std::vector<pollfd> fds;
    fds.push_back({g_wake[0], POLLIN, 0});
    for (ChildHandle* c : children)
        if (c->events >= 0)
            fds.push_back({c->events, POLLIN, 0});
    if (poll(fds.data(), fds.size(), timeoutMs) > 0 && (fds[0].revents & POLLIN)) {
        char drain[64];
        while (read(g_wake[0], drain, sizeof drain) > 0) {
        }
    }
}

bool StopSignalsInstall()
{
    if (pipe2(g_wake, O_CLOEXEC | O_NONBLOCK) < 0)
        return false;
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    return true;
}

bool StopRequested()
{
    return g_stop.load();
}
