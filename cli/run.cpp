// SPDX-License-Identifier: MIT
#include "run.h"

#include "download_file.h"
#include "exit_codes.h"
#include "json_events.h"
#include "log_output.h"
#include "platform_words.h"
#include "stdout_end.h"
#include "stdout_writer.h"
#include "stop_events.h"
#include "wait_port.h"

#include "engine.h"
#include "image_file.h"
#include "port_open_failure.h"
#include "serial_port.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The open port, owned by whoever takes it out first: the main thread to
// close it, or the guard to release it on its way out.
std::atomic<PortLine*> g_heldPort{nullptr};
// The exit code the main thread has settled on, -1 while it has not.
std::atomic<int> g_verdict{-1};
// The engine has ended the download on its own account (a LOG_DONE line).
std::atomic<bool> g_doneSeen{false};

using Clock = std::chrono::steady_clock;

// After a stop the engine ends its worker within half a second; past this it
// is stuck, and the CLI leaves without it.
constexpr int kStoppedWorkerMs = 1500;
// A worker that ends the session by itself (image sent, port lost) has only
// its cleanup left.
constexpr int kEndingWorkerMs = 15000;
// After a signal the whole ending, standard output's last lines included,
// stays within 2 s of it.
constexpr int kSignalToExitMs = 1800;
// The guard's bound from a stop to the end of the process.
constexpr int kGuardMs = 1950;

// The guard's end of a stop that the main thread could not finish in time:
// let go of the port, so the next program can open it, and leave. No lock
// is taken here.
void GuardExpired()
{
    if (PortLine* port = g_heldPort.exchange(nullptr))
        PortReleaseDevice(port);
    int verdict = g_verdict.load();
    verdict = verdict >= 0 ? verdict : g_bEngineLineLost.load() ? EXIT_PORT : EXIT_INCOMPLETE;
    ExitAtOnce(verdict);
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
        g_doneSeen = true;
        StopWake();
    }
    return 1;
}

// Bytes, not the percentage alone: the bar and the events show how much of
// the image the box holds, exactly.
void CliByteProgressSink(uint64_t acknowledged, uint64_t total)
{
    const int percent = EngineProgressPercent(acknowledged, total);
    LogProgress(percent, acknowledged, total);
    JsonProgress(percent, acknowledged, total);
}

bool Signalled()
{
    return StopSignalled();
}

int64_t MsSince(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// What standard output still gets once the download has ended: after a stop
// what is left of its 2 s, at most the usual grace.
int OutputGraceMs(bool stopped, Clock::time_point stopAt)
{
    if (!stopped)
        return kStdoutGraceMs;
    return int(std::max<int64_t>(0, std::min<int64_t>(kSignalToExitMs - MsSince(stopAt), kStdoutGraceMs)));
}

// The serial link's finding, which the session's outcome follows; read
// also while a stuck worker has not ended.
bool LineLost()
{
    return g_bEngineLineLost.load() || EngineLastOutcome() == EngineOutcome::LineLost;
}

// The exit code of a session that has ended. A session with no ending of
// its own was stopped (signal, --timeout): that is how a served download
// ends, and an image download left incomplete.
int ExitCodeFor(EngineOutcome outcome, bool image)
{
    switch (outcome) {
    case EngineOutcome::Sent:
        return EXIT_SENT;
    case EngineOutcome::Rejected:
    case EngineOutcome::TooLarge:
    case EngineOutcome::NoMemory:
        return EXIT_REJECTED;
    case EngineOutcome::FileError:
        return EXIT_FILE;
    case EngineOutcome::LineLost:
        return EXIT_PORT;
    case EngineOutcome::None:
    case EngineOutcome::Stopped:
    case EngineOutcome::Failed:
        break;
    }
    return image ? EXIT_INCOMPLETE : EXIT_SENT;
}

// Names the port as the operator gave it (PortNameShown).
void LogLineLost(const std::string& path)
{
    const char* reason = EngineLineLostReason();
    LogPrintf(LOG_ERROR, "%s was lost: %s\n", path.c_str(), *reason ? reason : "the device went away");
}

}  // namespace

int RunDownload(const DownloadOptions& o, OutputEnd* outputEnd)
{
    *outputEnd = OutputEnd{kStdoutGraceMs, false};
    const bool image = DownloadIsImage(o);
    const std::string path = PortDevicePath(o.port);
    const std::string shortName = PortShortName(o.port);
    const std::string& portName = PortNameShown(path, shortName);

    if (!StopEventsInit(GuardExpired, kGuardMs)) {
        LogPrintf(LOG_ERROR, "Can't set up signal handling: %s\n", strerror(errno));
        return EXIT_INCOMPLETE;
    }

    if (o.waitPortSec > 0 && !PortPathPresent(path)) {
        LogPrintf(LOG_INFO, "Waiting up to %g s for %s to appear.\n", o.waitPortSec, path.c_str());
        if (!WaitForPortPath(path, o.waitPortSec, Signalled) && StopSignalled()) {
            outputEnd->stopped = true;
            return image ? EXIT_INCOMPLETE : EXIT_SENT;
        }
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

    uint64_t fileSize = 0;
    bool regular = false;
    std::string why;
    FILE* file = OpenDownloadFile(o.file, &fileSize, &regular, &why);
    if (!file) {
        LogWrite("Can't open the download file!\r\n", LOG_ERROR);
        LogPrintf(LOG_ERROR, "%s: %s\n", o.file.c_str(), why.c_str());
        ClosePort();
        return EXIT_FILE;
    }
    if (image)
        LogSetImageSize(regular ? ImagePaddedSize(fileSize) : 0);
    // Nothing reads the file for it: an image's digest is taken from the
    // engine's own copy (the image sink), a served file has none.
    JsonEmitStart(o.file, image, regular, fileSize);

    CDownloadEngine engine;
    engine.SetLogSink(CliLogSink);
    engine.SetByteProgressSink(CliByteProgressSink);
    // With --json the box's chatter travels inside events: stdout is theirs.
    engine.SetEchoSink(JsonEventsEnabled() ? JsonEchoSink : StdoutChatterSink);
    if (JsonEventsEnabled()) {
        engine.SetImageSink(JsonImageSink);
        engine.SetStageSink(JsonStageSink);
    }

    // The worker inherits this mask, so the signals always reach this thread
    // and never interrupt the engine's own system calls.
    StopSignalsBlock();
    int started = engine.Start(port, file, image ? 1 : 0);
    StopSignalsRestore();
    if (started != 0) {
        LogClearBar();
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
        if (StopSignalled()) {
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
        StopWaitForWake(waitMs);
    }

    bool stopped = end == End::Signal || end == End::Timeout;
    Clock::time_point stopAt = Clock::now();
    if (end == End::Timeout) {
        StopArmGuard();  // before the log line, which could block on stderr
        LogPrintf(LOG_NOTICE, "Time limit of %g s reached, stopping the download.\r\n", o.timeoutSec);
    }
    if (stopped)
        engine.Abort();

    // The worker still uses the port and the file until it has ended. A
    // signal while it finishes by itself turns the wait into a stop.
    Clock::time_point waitFrom = stopAt;
    while (g_bEngineBusy.load()) {
        if (!stopped && StopSignalled()) {
            engine.Abort();  // the signal has armed the guard
            stopped = true;
            stopAt = Clock::now();
        }
        int64_t left = stopped ? kStoppedWorkerMs - MsSince(stopAt) : kEndingWorkerMs - MsSince(waitFrom);
        if (left <= 0)
            break;
        StopWaitForWake(int(std::min<int64_t>(left, 10)));
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
            LogLineLost(portName);
        EndPortOutput(g_verdict.load(), OutputGraceMs(stopped, stopAt), true);
        StopFinished();
        ExitAtOnce(g_verdict.load());
    }

    // The worker's session is over; its thread ends before the process's
    // exit handlers may run (they free libcrypto's state, which the thread's
    // own clean-up still touches).
    EngineWaitIdle(0);

    const bool lost = LineLost();
    const int verdict = lost ? EXIT_PORT : ExitCodeFor(EngineLastOutcome(), image);
    g_verdict.store(verdict);
    LogClearBar();
    fclose(file);
    ClosePort();
    if (lost)
        LogLineLost(portName);
    *outputEnd = OutputEnd{OutputGraceMs(stopped, stopAt), stopped};
    return verdict;
}
