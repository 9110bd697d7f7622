#include "run.h"

#include "echo_output.h"
#include "exit_codes.h"
#include "json_events.h"
#include "log_output.h"
#include "wait_port.h"

#include "engine.h"
#include "image_file.h"
#include "port_open_failure.h"
#include "serial_port.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <time.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Self-pipe: the signal handler and the log sink only write one byte here;
// the main thread does the work.
int g_wakePipe[2] = {-1, -1};
// The guard's pipe: a stop (signal or --timeout) starts its clock.
int g_guardPipe[2] = {-1, -1};
// The open port, owned by whoever takes it out first: the main thread to
// close it, or the guard to release it on its way out.
std::atomic<PortLine*> g_heldPort{nullptr};
// The exit code the main thread has settled on, -1 while it has not.
std::atomic<int> g_verdict{-1};
std::atomic<bool> g_signalled{false};
std::atomic<bool> g_doneSeen{false};
std::mutex g_doneMutex;
std::string g_doneText;

using Clock = std::chrono::steady_clock;

// After a stop the engine ends its worker within half a second; past this it
// is stuck, and the CLI leaves without it.
constexpr int kStoppedWorkerMs = 1500;
// A worker that ends the session by itself (image sent, port lost) has only
// its cleanup left.
constexpr int kEndingWorkerMs = 15000;
// What the writer of the box's output gets to catch up at the end; after a
// signal the whole ending stays within 2 s of it.
constexpr int kEchoFlushMs = 300;
constexpr int kSignalToExitMs = 1800;
// The guard's bound from a stop to the end of the process.
constexpr int kGuardMs = 1950;

const char kLineLostText[] = "Serial port lost! Abort Download\n";

void Wake(char c)
{
    ssize_t r = write(g_wakePipe[1], &c, 1);
    (void)r;  // a full pipe already holds a wake-up
}

void ArmGuard()
{
    char c = 'G';
    ssize_t r = write(g_guardPipe[1], &c, 1);
    (void)r;
}

void OnSignal(int)
{
    int saved = errno;
    g_signalled = true;
    Wake('S');
    ArmGuard();
    errno = saved;
}

// The last word on the 2 s promise after a stop. The main thread can be held
// up where no signal reaches it (the log's lock, while the worker is stuck
// writing to a standard error nobody reads); this thread touches no lock:
// it lets go of the port and ends the process.
void GuardLoop()
{
    pollfd p = {g_guardPipe[0], POLLIN, 0};
    while (poll(&p, 1, -1) <= 0) {
    }
    timespec until;
    clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_sec += kGuardMs / 1000;
    until.tv_nsec += long(kGuardMs % 1000) * 1000000;
    if (until.tv_nsec >= 1000000000) {
        until.tv_sec += 1;
        until.tv_nsec -= 1000000000;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
    if (PortLine* port = g_heldPort.exchange(nullptr))
        PortReleaseDevice(port);
    int verdict = g_verdict.load();
    verdict = verdict >= 0 ? verdict : g_bEngineLineLost.load() ? EXIT_PORT : EXIT_INCOMPLETE;
#ifdef SYS_exit_group
    // Straight to the kernel: a sanitizer's runtime wraps _exit and flushes
    // stdio first, which would wait on the stream the stuck worker holds.
    syscall(SYS_exit_group, verdict);
#endif
    _exit(verdict);
}

// Closes the port unless the guard has taken it (and is about to exit).
void ClosePort()
{
    if (PortLine* port = g_heldPort.exchange(nullptr))
        PortCloseDevice(port);
}

int CliLogSink(const char* text, int level)
{
    LogWrite(text, level);
    if (level == LOG_DONE) {
        {
            std::lock_guard<std::mutex> lock(g_doneMutex);
            g_doneText = text;
        }
        g_doneSeen = true;
        Wake('D');
    }
    return 1;
}

void CliProgressSink(int percent)
{
    LogProgress(percent);
    JsonProgress(percent);
}

bool Signalled()
{
    return g_signalled.load();
}

bool SetUpSignals()
{
    if (pipe(g_wakePipe) < 0 || pipe(g_guardPipe) < 0)
        return false;
    for (int fd : {g_wakePipe[0], g_wakePipe[1], g_guardPipe[0], g_guardPipe[1]}) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    // Neither the guard nor any later thread takes the signals: they wake
    // this one.
    sigset_t stopSignals, previous;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);
    try {
        std::thread(GuardLoop).detach();
    } catch (...) {  // no thread: the main thread's own bounds still hold
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    struct sigaction sa{};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    // No SA_RESTART: a signal must end whatever this thread waits in.
    sa.sa_flags = 0;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    return true;
}

// Opens the download file without ever waiting: a FIFO or a socket would block
// open() or the engine's reads on a writer that may never come, so only
// regular files and devices are taken. The descriptor stays non-blocking; a
// device with nothing to give reads short instead of stopping the worker.
FILE* OpenDownloadFile(const std::string& name, struct stat* st, std::string* why)
{
    int fd = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *why = strerror(errno);
        return nullptr;
    }
    if (fstat(fd, st) < 0) {
        *why = strerror(errno);
        close(fd);
        return nullptr;
    }
    if (S_ISDIR(st->st_mode)) {
        *why = strerror(EISDIR);
        close(fd);
        return nullptr;
    }
    if (!S_ISREG(st->st_mode) && !S_ISCHR(st->st_mode) && !S_ISBLK(st->st_mode)) {
        *why = std::string("not a regular file or a device (") + (S_ISFIFO(st->st_mode) ? "a FIFO" : "a socket") +
               " would leave the download waiting for its writer)";
        close(fd);
        return nullptr;
    }
    FILE* file = fdopen(fd, "rb");
    if (!file) {
        *why = strerror(errno);
        close(fd);
    }
    return file;
}

int64_t MsSince(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// Waits on the wake pipe for up to waitMs; a signal or the log sink cuts it short.
void WaitForWake(int waitMs)
{
    pollfd p = {g_wakePipe[0], POLLIN, 0};
    if (poll(&p, 1, waitMs) > 0) {
        char drain[64];
        while (read(g_wakePipe[0], drain, sizeof drain) > 0) {
        }
    }
}

// Tells how much of the box's output never reached stdout, after giving the
// writer up to budgetMs.
void FinishEcho(int64_t budgetMs)
{
    uint64_t lost = EchoOutputFinish(int(std::max<int64_t>(0, std::min<int64_t>(budgetMs, kEchoFlushMs))));
    if (lost > 0)
        LogPrintf(LOG_NOTICE, "%llu bytes of the box's output were dropped: standard output did not take them.\n",
                  (unsigned long long)lost);
}

bool LineLost()
{
    if (g_bEngineLineLost.load())
        return true;
    std::lock_guard<std::mutex> lock(g_doneMutex);
    return g_doneSeen && g_doneText == kLineLostText;
}

void LogLineLost(const std::string& path)
{
    const char* reason = EngineLineLostReason();
    LogPrintf(LOG_ERROR, "%s was lost: %s\n", path.c_str(), *reason ? reason : "the device went away");
}

}  // namespace

int RunDownload(const DownloadOptions& o)
{
    const bool image = DownloadIsImage(o);
    const std::string path = PortDevicePath(o.port);
    const std::string shortName = PortShortName(o.port);

    if (!SetUpSignals()) {
        LogPrintf(LOG_ERROR, "Can't set up signal handling: %s\n", strerror(errno));
        return EXIT_INCOMPLETE;
    }

    if (o.waitPortSec > 0 && !PortPathPresent(path)) {
        LogPrintf(LOG_INFO, "Waiting up to %g s for %s to appear.\n", o.waitPortSec, path.c_str());
        if (!WaitForPortPath(path, o.waitPortSec, Signalled) && g_signalled)
            return image ? EXIT_INCOMPLETE : EXIT_SENT;
    }

    PortOpenError error;
    PortHandle port = PortOpenDevice(path.c_str(), o.baud, &error);
    if (!port) {
        LogPrintf(LOG_ERROR, "%s:%u-%d-%d Open failed!\r\n", shortName.c_str(), o.baud, 8, 1);
        LogWrite((PortOpenFailureReason(path, error, "see --list-ports") + "\n").c_str(), LOG_ERROR);
        return EXIT_PORT;
    }
    g_heldPort.store(port);
    LogPrintf(LOG_INFO, "%s:%u-%d-%d Open Successful!\r\n", shortName.c_str(), o.baud, 8, 1);

    struct stat st{};
    std::string why;
    FILE* file = OpenDownloadFile(o.file, &st, &why);
    if (!file) {
        LogWrite("Can't open the download file!\r\n", LOG_ERROR);
        LogPrintf(LOG_ERROR, "%s: %s\n", o.file.c_str(), why.c_str());
        ClosePort();
        return EXIT_FILE;
    }
    if (image)
        LogSetImageSize(S_ISREG(st.st_mode) ? ImagePaddedSize(uint64_t(st.st_size)) : 0);
    JsonEmitStart(o.file, image);

    CDownloadEngine engine;
    engine.SetLogSink(CliLogSink);
    engine.SetProgressSink(CliProgressSink);
    // With --json the box's chatter travels inside events: stdout is theirs.
    engine.SetEchoSink(JsonEventsEnabled() ? JsonEchoSink : EchoOutputSink);

    // The worker inherits this mask, so the signals always reach this thread
    // and never interrupt the engine's own system calls.
    sigset_t stopSignals, previous;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);
    EchoOutputStart();
    int started = engine.Start(port, file, image ? 1 : 0);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (started != 0) {
        LogClearBar();
        EchoOutputFinish(0);
        fclose(file);
        ClosePort();
        return EXIT_INCOMPLETE;
    }

    const bool limited = o.timeoutSec > 0;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(limited ? int64_t(o.timeoutSec * 1000) : 0);
    enum class End { Done, Signal, Timeout, WorkerEnded } end;
    for (;;) {
        if (g_doneSeen) {
            end = End::Done;
            break;
        }
        if (g_signalled) {
            end = End::Signal;
            break;
        }
        if (!g_bEngineBusy) {
            end = End::WorkerEnded;
            break;
        }
        int waitMs = 200;
        if (limited) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                end = End::Timeout;
                break;
            }
            if (left < waitMs)
                waitMs = int(left);
        }
        WaitForWake(waitMs);
    }

    bool stopped = end == End::Signal || end == End::Timeout;
    Clock::time_point stopAt = Clock::now();
    if (end == End::Timeout) {
        ArmGuard();  // before the log line, which could block on stderr
        LogPrintf(LOG_NOTICE, "Time limit of %g s reached, stopping the download.\r\n", o.timeoutSec);
    }
    if (stopped)
        engine.Abort();

    // The worker still uses the port and the file until it has ended. A
    // signal while it finishes by itself turns the wait into a stop.
    Clock::time_point waitFrom = stopAt;
    while (g_bEngineBusy.load()) {
        if (!stopped && g_signalled) {
            engine.Abort();  // the signal has armed the guard
            stopped = true;
            stopAt = Clock::now();
        }
        int64_t left = stopped ? kStoppedWorkerMs - MsSince(stopAt) : kEndingWorkerMs - MsSince(waitFrom);
        if (left <= 0)
            break;
        WaitForWake(int(std::min<int64_t>(left, 10)));
    }
    if (g_bEngineBusy.load()) {
        // Leave without it, but first let go of the port so the next
        // program can open it; the descriptor and the file stay for the
        // worker until the process is gone. Nothing here may take a lock
        // before that: the stuck worker may hold the log's.
        if (PortLine* held = g_heldPort.load())
            PortReleaseDevice(held);
        const bool lost = LineLost();
        g_verdict.store(lost ? EXIT_PORT : EXIT_INCOMPLETE);
        LogClearBar();
        LogPrintf(LOG_ERROR, "The download thread did not end within %.1f s; leaving without it.\n",
                  (stopped ? kStoppedWorkerMs : kEndingWorkerMs) / 1000.0);
        if (lost)
            LogLineLost(path);
        FinishEcho(stopped ? kSignalToExitMs - MsSince(stopAt) : 0);
        _exit(g_verdict.load());
    }

    const bool lost = LineLost();
    int verdict = image ? EXIT_INCOMPLETE : EXIT_SENT;
    if (lost) {
        verdict = EXIT_PORT;
    } else if (g_doneSeen) {
        std::lock_guard<std::mutex> lock(g_doneMutex);
        verdict = g_doneText == "Velto file send OK!\n" ? EXIT_SENT : EXIT_REJECTED;
    }
    g_verdict.store(verdict);
    LogClearBar();
    fclose(file);
    ClosePort();
    if (lost)
        LogLineLost(path);
    FinishEcho(stopped ? kSignalToExitMs - MsSince(stopAt) : kEchoFlushMs);
    return verdict;
}
