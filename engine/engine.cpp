// SPDX-License-Identifier: MIT
// The engine object, its logger and the worker thread.
//
// All engine state is process-wide: one console, one engine, at most one
// worker at a time. The console's thread writes the state word; the worker
// polls it and owns everything else while a session runs.
#include "engine.h"

#include "serial_link.h"
#include "session.h"

#include <chrono>
#include <cstdarg>
#include <mutex>
#include <thread>

std::atomic<int32_t> g_engineState{0};
PortHandle g_enginePort = nullptr;
FILE* g_engineFile = nullptr;
uint8_t g_bEngineImageMode = 0;
std::atomic<uint8_t> g_bEngineBusy{0};
LogSink g_pfnLogSink = nullptr;
ProgressSink g_pfnProgressSink = nullptr;
EchoSink g_pfnEchoSink = nullptr;
ImageSink g_pfnImageSink = nullptr;
ByteProgressSink g_pfnByteProgressSink = nullptr;
StageSink g_pfnStageSink = nullptr;
char g_szEngineLog[256];
std::atomic<uint8_t> g_bEngineLineLost{0};

// Written by the worker before it raises g_bEngineLineLost, read by others
// only after they have seen the flag set.
static char g_szLineLostReason[160];

static std::atomic<EngineOutcome> g_engineOutcome{EngineOutcome::None};

// The worker and a refused Start may log at the same moment; the lock keeps
// each text whole from formatting until the sink has taken it.
static std::mutex g_engineLogLock;

// The worker of the last Start, joined once its session is over (see
// EngineWaitIdle). A thread's end is more than the return of its function:
// the C++ runtime and the libraries it used (libcrypto for the image's
// digest) clean up after it, and that must not overlap the process's exit
// handlers, which free what those clean-ups touch. Never destroyed: a
// worker still running when the process ends must not end it through
// std::terminate.
static std::mutex g_workerLock;
static std::thread& Worker()
{
    static std::thread* worker = new std::thread;
    return *worker;
}

// Joins a worker that has ended its session. Called with g_workerLock held.
static void ReapEndedWorkerLocked()
{
    if (g_bEngineBusy.load() == 0 && Worker().joinable())
        Worker().join();
}

CDownloadEngine::CDownloadEngine()
{
    g_pfnLogSink = nullptr;
    g_pfnProgressSink = nullptr;
    g_pfnEchoSink = nullptr;
    g_pfnImageSink = nullptr;
    g_pfnByteProgressSink = nullptr;
    g_pfnStageSink = nullptr;
}

CDownloadEngine::~CDownloadEngine() = default;

void CDownloadEngine::SetLogSink(LogSink sink)
{
    g_pfnLogSink = sink;
}

void CDownloadEngine::SetProgressSink(ProgressSink sink)
{
    g_pfnProgressSink = sink;
}

void CDownloadEngine::SetEchoSink(EchoSink sink)
{
    g_pfnEchoSink = sink;
}

void CDownloadEngine::SetImageSink(ImageSink sink)
{
    g_pfnImageSink = sink;
}

void CDownloadEngine::SetByteProgressSink(ByteProgressSink sink)
{
    g_pfnByteProgressSink = sink;
}

void CDownloadEngine::SetStageSink(StageSink sink)
{
    g_pfnStageSink = sink;
}

int CDownloadEngine::Start(PortHandle port, FILE* file, uint8_t imageMode)
{
    if (!file)
        return -1;
    // Claim the engine before the thread exists: a second Start right after
    // this one must be refused, not race the new worker to the flag.
    uint8_t idle = 0;
    if (!g_bEngineBusy.compare_exchange_strong(idle, 1)) {
        EngineLog(LOG_ERROR, "System is busy now! Please wait...\n");
        return -1;
    }
    g_engineFile = file;
    g_enginePort = port;
    g_engineState.store(0);
    g_engineOutcome.store(EngineOutcome::None);
    g_bEngineLineLost.store(0);
    g_szLineLostReason[0] = 0;
    PortResetLostWatch();
    g_bEngineImageMode = imageMode;
    // A write that waits on a stalled line gives up on the operator's stop.
    if (port)
        port->SetWriteGiveUp(EngineStopRequested);
    if (imageMode)
        EngineLog(LOG_INFO, "Velto File Download!\n");
    try {
        std::lock_guard<std::mutex> lock(g_workerLock);
        // The previous worker has ended its session (the engine was idle):
        // only its thread's own end can be left to wait for.
        if (Worker().joinable())
            Worker().join();
        Worker() = std::thread(EngineThreadProc, nullptr);
    } catch (...) {  // no resources for a thread (system_error, bad_alloc)
        g_bEngineBusy.store(0);
        EngineLog(LOG_ERROR, "Can't create the download thread!\n");
        return -1;
    }
    return 0;
}

int CDownloadEngine::Abort()
{
    g_engineState.store(ENGINE_ABORT);
    // After the store: a wait woken here finds the stop when it looks.
    PortWakeWaits();
    return 0;
}

int EngineLog(int level, const char* format, ...)
{
    std::lock_guard<std::mutex> guard(g_engineLogLock);
    va_list args;
    va_start(args, format);
    vsnprintf(g_szEngineLog, sizeof g_szEngineLog, format, args);
    va_end(args);
    if (!g_pfnLogSink)
        return 0;
    return g_pfnLogSink(g_szEngineLog, level);
}

unsigned int EngineThreadProc(void*)
{
    g_bEngineBusy.store(1);
    EngineLog(LOG_INFO, "VUMO 0.2 STB DownLoad Software.\r\n");
    EngineLog(LOG_INFO, "Start Download Service\r\n");
    RunSession();
    // Flush what the box's console chatter left in stdio's buffer before the
    // front end may close its streams.
    fflush(stdout);
    g_bEngineBusy.store(0);
    return 0;
}

bool EngineWaitIdle(int timeoutMs)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (g_bEngineBusy.load() == 0) {
            std::lock_guard<std::mutex> lock(g_workerLock);
            ReapEndedWorkerLocked();
            return true;
        }
        if (std::chrono::steady_clock::now() >= until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool EngineStopRequested()
{
    return g_engineState.load(std::memory_order_acquire) == ENGINE_ABORT;
}

void EngineMarkLineLost(const char* reason)
{
    if (g_bEngineLineLost.load())
        return;
    snprintf(g_szLineLostReason, sizeof g_szLineLostReason, "%s", reason ? reason : "");
    g_bEngineLineLost.store(1, std::memory_order_release);
}

const char* EngineLineLostReason()
{
    return g_bEngineLineLost.load(std::memory_order_acquire) ? g_szLineLostReason : "";
}

EngineOutcome EngineLastOutcome()
{
    return g_engineOutcome.load();
}

void EngineSetOutcome(EngineOutcome outcome)
{
    g_engineOutcome.store(outcome);
}

int EngineProgressPercent(uint64_t acknowledged, uint64_t total)
{
    return total ? int(acknowledged * 100 / total) : 0;
}

void EngineReportProgress(uint64_t acknowledged, uint64_t total)
{
    if (g_pfnProgressSink)
        g_pfnProgressSink(EngineProgressPercent(acknowledged, total));
    if (g_pfnByteProgressSink)
        g_pfnByteProgressSink(acknowledged, total);
}

void EngineReportStage(EngineStage stage)
{
    if (g_pfnStageSink)
        g_pfnStageSink(stage);
}
