#include "run.h"

#include "exit_codes.h"
#include "log_output.h"

#include "engine.h"
#include "image_file.h"
#include "serial_port.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Self-pipe: the signal handler and the log sink only write one byte here;
// the main thread does the work.
int g_wakePipe[2] = {-1, -1};
std::atomic<bool> g_signalled{false};
std::atomic<bool> g_doneSeen{false};
std::mutex g_doneMutex;
std::string g_doneText;

constexpr int kWorkerEndMs = 15000;

void Wake(char c)
{
    ssize_t r = write(g_wakePipe[1], &c, 1);
    (void)r;  // a full pipe already holds a wake-up
}

void OnSignal(int)
{
    int saved = errno;
    g_signalled = true;
    Wake('S');
    errno = saved;
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
}

std::string OwnerGroup(const std::string& path)
{
    struct stat st{};
    if (stat(path.c_str(), &st) < 0)
        return "";
    group* g = getgrgid(st.st_gid);
    return g ? std::string(g->gr_name) : std::to_string(st.st_gid);
}

std::string OpenFailureReason(const std::string& path, const PortOpenError& e)
{
    switch (e.code) {
    case EACCES:
    case EPERM: {
        std::string group = OwnerGroup(path);
        if (group.empty())
            group = "dialout";
        return "Permission denied on " + path + ": the user needs to be in the group '" + group +
               "' that owns the device (sudo usermod -aG " + group + " $USER, then log in again).\n";
    }
    case EBUSY:
        return path + " is busy: another program holds it open (close that program first).\n";
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return "No such device: " + path + " (see --list-ports).\n";
    default:
        return (e.text.empty() ? std::string("cannot open ") + path : e.text) + ".\n";
    }
}

bool SetUpWakePipe()
{
    if (pipe(g_wakePipe) < 0)
        return false;
    for (int fd : g_wakePipe) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction sa{};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    return true;
}

}  // namespace

int RunDownload(const DownloadOptions& o)
{
    const bool image = DownloadIsImage(o);
    const std::string path = PortDevicePath(o.port);
    const std::string shortName = PortShortName(o.port);

    if (!SetUpWakePipe()) {
        LogPrintf(LOG_ERROR, "Can't set up signal handling: %s\n", strerror(errno));
        return EXIT_INCOMPLETE;
    }

    PortOpenError error;
    PortHandle port = PortOpenDevice(path.c_str(), o.baud, &error);
    if (!port) {
        LogPrintf(LOG_ERROR, "%s:%u-%d-%d Open failed!\r\n", shortName.c_str(), o.baud, 8, 1);
        LogWrite(OpenFailureReason(path, error).c_str(), LOG_ERROR);
        return EXIT_PORT;
    }
    LogPrintf(LOG_INFO, "%s:%u-%d-%d Open Successful!\r\n", shortName.c_str(), o.baud, 8, 1);

    FILE* file = fopen(o.file.c_str(), "rb");
    struct stat st{};
    if (file && (fstat(fileno(file), &st) < 0 || S_ISDIR(st.st_mode))) {
        fclose(file);
        file = nullptr;
        errno = EISDIR;
    }
    if (!file) {
        int e = errno;
        LogWrite("Can't open the download file!\r\n", LOG_ERROR);
        LogPrintf(LOG_ERROR, "%s: %s\n", o.file.c_str(), strerror(e));
        PortCloseDevice(port);
        return EXIT_FILE;
    }
    if (image)
        LogSetImageSize(S_ISREG(st.st_mode) ? ImagePaddedSize(uint64_t(st.st_size)) : 0);

    CDownloadEngine engine;
    engine.SetLogSink(CliLogSink);
    engine.SetProgressSink(CliProgressSink);

    // The worker inherits this mask, so the signals always reach this thread
    // and never interrupt the engine's own system calls.
    sigset_t stopSignals, previous;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);
    int started = engine.Start(port, file, image ? 1 : 0);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (started != 0) {
        LogClearBar();
        fclose(file);
        PortCloseDevice(port);
        return EXIT_INCOMPLETE;
    }

    using Clock = std::chrono::steady_clock;
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
        pollfd p = {g_wakePipe[0], POLLIN, 0};
        if (poll(&p, 1, waitMs) > 0) {
            char drain[64];
            while (read(g_wakePipe[0], drain, sizeof drain) > 0) {
            }
        }
    }

    if (end == End::Timeout)
        LogPrintf(LOG_NOTICE, "Time limit of %g s reached, stopping the download.\r\n", o.timeoutSec);
    if (end == End::Signal || end == End::Timeout)
        engine.Abort();

    // The worker still uses the port and the file until it has ended.
    if (!EngineWaitIdle(kWorkerEndMs)) {
        LogClearBar();
        LogPrintf(LOG_ERROR, "The download thread did not end within %d s; leaving without closing the port.\n",
                  kWorkerEndMs / 1000);
        fflush(stdout);
        _exit(EXIT_INCOMPLETE);
    }
    LogClearBar();
    fclose(file);
    PortCloseDevice(port);

    if (g_doneSeen) {
        std::lock_guard<std::mutex> lock(g_doneMutex);
        return g_doneText == "Velto file send OK!\n" ? EXIT_SENT : EXIT_REJECTED;
    }
    return image ? EXIT_INCOMPLETE : EXIT_SENT;
}
