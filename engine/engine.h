// SPDX-License-Identifier: MIT
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
// Bytes the box sends outside a frame (its own console output). Without a
// sink they go to standard output; a front end that must never block on a
// slow reader installs its own.
using EchoSink = void (*)(const uint8_t* data, uint32_t count);
// The image as it will be sent (payload, then the 0xFF padding; size a
// multiple of 1024), once loaded and accepted, called on the worker before
// the session answers the box. For a front end that reports exactly what the
// box is sent; it may take its time but should give up on
// EngineStopRequested(). The buffer is valid during the call only.
using ImageSink = void (*)(const uint8_t* image, uint32_t size);
// The image's progress as bytes: how many the box has acknowledged of the
// padded image's total. Called where the percent sink is, with the same
// report: acknowledged 0 is the session's final report (no transfer under
// way). For front ends that show or count bytes, which a percentage cannot
// give back exactly.
using ByteProgressSink = void (*)(uint64_t acknowledged, uint64_t total);

// How far the box has come in this session; each is reported once.
enum class EngineStage {
    Box,  // the first whole frame from the box, whatever its command
    // Image: the box's download start answered, or its service request
    // when it sent none. Served: its first data request served.
    Transfer,
};
using StageSink = void (*)(EngineStage stage);

// How the last session ended. Set where the session ends, before its last
// log line, so a front end woken by that line already reads it; None again
// from the next accepted Start.
enum class EngineOutcome {
    None,       // no session has ended since the last Start
    Sent,       // the box acknowledged the whole image and its close
    Rejected,   // not an image file (no payload, or the magic is wrong)
    TooLarge,   // an image too large to announce
    FileError,  // the download file could not be read
    Stopped,    // the operator's stop (Abort)
    LineLost,   // the port stayed gone
    Failed,     // the operator's stop while the last transfer had failed (refused, unanswered)
    NoMemory,   // no memory to hold the image
};

class CDownloadEngine {
public:
    CDownloadEngine();
    virtual ~CDownloadEngine();

    void SetLogSink(LogSink sink);
    void SetProgressSink(ProgressSink sink);
    void SetEchoSink(EchoSink sink);
    void SetImageSink(ImageSink sink);
    void SetByteProgressSink(ByteProgressSink sink);
    void SetStageSink(StageSink sink);
    // 0 when a worker has been started; -1 when refused (null file, a worker
    // still running, or no thread could be created).
    int Start(PortHandle port, FILE* file, uint8_t imageMode);
    // Asks a running session to stop; never waits. Always 0.
    int Abort();
};

int EngineLog(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
unsigned int EngineThreadProc(void* param);

// Waits (real time, polling) until no worker runs; true if idle within the
// bound, and then the worker's thread has ended too (its session is over at
// once, the thread's own clean-up follows). Front ends use it before they
// close the port and the file, and before they leave the process.
bool EngineWaitIdle(int timeoutMs);
// True once the operator's stop has been requested (state word at 255).
bool EngineStopRequested();
// How the last session ended; read after EngineWaitIdle.
EngineOutcome EngineLastOutcome();
// The session's own record of its ending (the engine's, not a front end's).
void EngineSetOutcome(EngineOutcome outcome);
// The percentage of the image `acknowledged` bytes make, as the percent sink
// gets it; 0 without a total.
int EngineProgressPercent(uint64_t acknowledged, uint64_t total);
// Both progress sinks, with one report.
void EngineReportProgress(uint64_t acknowledged, uint64_t total);
void EngineReportStage(EngineStage stage);

extern std::atomic<int32_t> g_engineState;
extern PortHandle g_enginePort;
extern FILE* g_engineFile;
extern uint8_t g_bEngineImageMode;
extern std::atomic<uint8_t> g_bEngineBusy;
extern LogSink g_pfnLogSink;
extern ProgressSink g_pfnProgressSink;
extern EchoSink g_pfnEchoSink;
extern ImageSink g_pfnImageSink;
extern ByteProgressSink g_pfnByteProgressSink;
extern StageSink g_pfnStageSink;
// Set by the serial link once the port has stayed gone for half a second;
// cleared by the next accepted Start. The session then ends with
// "Serial port lost! Abort Download\n" at LOG_DONE.
extern std::atomic<uint8_t> g_bEngineLineLost;
// The system's words for the lost port ("Input/output error"); empty
// unless g_bEngineLineLost is set.
const char* EngineLineLostReason();
// The serial link's verdict that the port is gone; the first reason stays.
void EngineMarkLineLost(const char* reason);
extern char g_szEngineLog[256];
