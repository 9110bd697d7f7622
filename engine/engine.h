// The download engine's handle object, its logger and its process-wide state.
#pragma once

#include "port_line.h"

#include <atomic>
#include <cstdint>
#include <cstdio>

enum {
    LOG_INFO = 0,    // banner, handshake lines, file accepted
    LOG_ERROR = 1,   // refused start, unknown command, time-out, failed transfer
    LOG_NOTICE = 2,  // the session ended by Abort
    LOG_DONE = 3,    // the engine ended the download on its own account
};

constexpr int32_t ENGINE_ABORT = 255;

using LogSink = int (*)(const char* text, int level);
using ProgressSink = void (*)(int percent);

class CDownloadEngine {
public:
    CDownloadEngine();
    virtual ~CDownloadEngine();

    void SetLogSink(LogSink sink);
    void SetProgressSink(ProgressSink sink);
    // 0 when a worker has been started; -1 when refused (null file, a worker
    // still running, or no thread could be created).
    int Start(PortHandle port, FILE* file, uint8_t imageMode);
    // Asks a running session to stop; never waits. Always 0.
    int Abort();
};

int EngineLog(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
unsigned int EngineThreadProc(void* param);

// Waits (real time, polling) until no worker runs; true if idle within the
// bound. Front ends use it before they close the port and the file.
bool EngineWaitIdle(int timeoutMs);

extern std::atomic<int32_t> g_engineState;
extern PortHandle g_enginePort;
extern FILE* g_engineFile;
extern uint8_t g_bEngineImageMode;
extern std::atomic<uint8_t> g_bEngineBusy;
extern LogSink g_pfnLogSink;
extern ProgressSink g_pfnProgressSink;
extern char g_szEngineLog[256];
