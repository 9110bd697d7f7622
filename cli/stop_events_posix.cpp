// SPDX-License-Identifier: MIT
#include "stop_events.h"

#include "child_process.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

// Self-pipe: the signal handler and the log sink only write one byte here;
// the main thread does the work.
int g_wakePipe[2] = {-1, -1};
// The guard's pipe: a stop (signal or --timeout) starts its clock.
int g_guardPipe[2] = {-1, -1};
std::atomic<bool> g_signalled{false};
void (*g_guardExpired)() = nullptr;
int g_guardMs = 0;
sigset_t g_previousMask;

void Poke(int fd, char c)
{
    ssize_t r = write(fd, &c, 1);
    (void)r;  // a full pipe already holds a wake-up
}

void OnSignal(int)
{
    int saved = errno;
    g_signalled = true;
    Poke(g_wakePipe[1], 'S');
    Poke(g_guardPipe[1], 'G');
    errno = saved;
}

// The last word on the promise after a stop. The main thread can be held up
// where no signal reaches it (the log's lock, while the worker is stuck
// writing to a standard error nobody reads); this thread touches no lock.
void GuardLoop()
{
    pollfd p = {g_guardPipe[0], POLLIN, 0};
    while (poll(&p, 1, -1) <= 0) {
    }
    timespec until;
    clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_sec += g_guardMs / 1000;
    until.tv_nsec += long(g_guardMs % 1000) * 1000000;
    if (until.tv_nsec >= 1000000000) {
        until.tv_sec += 1;
        until.tv_nsec -= 1000000000;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
    g_guardExpired();
}

sigset_t StopSignals()
{
    sigset_t s;
    sigemptyset(&s);
    sigaddset(&s, SIGINT);
    sigaddset(&s, SIGTERM);
    return s;
}

// A port's process of the production line stops when the line goes, as
// the operator's stop, so it never holds its port after the line was
// killed outright (Windows' Job object does this there).
void FollowTheLine()
{
    const char* parent = getenv(kChildParentEnv);
    if (!parent || !*parent)
        return;
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != pid_t(atol(parent)))
        OnSignal(SIGTERM);
}

}  // namespace

bool StopEventsInit(void (*guardExpired)(), int guardMs)
{
    g_guardExpired = guardExpired;
    g_guardMs = guardMs;
    if (pipe(g_wakePipe) < 0 || pipe(g_guardPipe) < 0)
        return false;
    for (int fd : {g_wakePipe[0], g_wakePipe[1], g_guardPipe[0], g_guardPipe[1]}) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    // Neither the guard nor any later thread takes the signals: they wake
    // the main thread.
    StopSignalsBlock();
    try {
        std::thread(GuardLoop).detach();
    } catch (...) {  // no thread: the main thread's own bounds still hold
    }
    StopSignalsRestore();
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    // No SA_RESTART: a signal must end whatever this thread waits in.
    sa.sa_flags = 0;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    FollowTheLine();
    return true;
}

bool StopSignalled()
{
    return g_signalled.load();
}

void StopWake()
{
    Poke(g_wakePipe[1], 'W');
}

void StopArmGuard()
{
    Poke(g_guardPipe[1], 'G');
}

void StopWaitForWake(int waitMs)
{
    pollfd p = {g_wakePipe[0], POLLIN, 0};
    if (poll(&p, 1, waitMs) > 0) {
        char drain[64];
        while (read(g_wakePipe[0], drain, sizeof drain) > 0) {
        }
    }
}

void StopFinished() {}

void StopSignalsBlock()
{
    sigset_t s = StopSignals();
    pthread_sigmask(SIG_BLOCK, &s, &g_previousMask);
}

void StopSignalsRestore()
{
    pthread_sigmask(SIG_SETMASK, &g_previousMask, nullptr);
}

void ExitAtOnce(int code)
{
#ifdef SYS_exit_group
    // Straight to the kernel: a sanitizer's runtime wraps _exit and flushes
    // stdio first, which would wait on the stream the stuck worker holds.
    syscall(SYS_exit_group, code);
#endif
    _exit(code);
}
