// SPDX-License-Identifier: MIT
#include "stop_events.h"

#include "child_process.h"
#include "console_stop.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <thread>

namespace {

HANDLE g_wakeEvent = nullptr;      // auto-reset: one wait per wake-up
HANDLE g_guardEvent = nullptr;     // manual-reset: armed for good
HANDLE g_finishedEvent = nullptr;  // manual-reset: the download is wound up
std::atomic<bool> g_signalled{false};
void (*g_guardExpired)() = nullptr;
int g_guardMs = 0;

// Runs on a thread the system starts for each event.
BOOL WINAPI OnConsoleControl(DWORD type)
{
    const ConsoleStop stop = ConsoleStopOf(type);
    if (stop == ConsoleStop::None)
        return FALSE;
    g_signalled = true;
    SetEvent(g_wakeEvent);
    SetEvent(g_guardEvent);
    // The system ends the process as soon as this handler returns from a
    // closing console: give the download its ending first. The guard ends
    // the process before the system's own limit of 5 s.
    if (stop == ConsoleStop::Closing)
        WaitForSingleObject(g_finishedEvent, DWORD(g_guardMs) + 500);
    return TRUE;
}

// A production line's parent asks its child to stop through an event it
// handed down (see kChildStopEventEnv): taken as Ctrl-Break, whether or not
// a console control event could reach this process.
void WatchParentStop(HANDLE stop)
{
    if (WaitForSingleObject(stop, INFINITE) == WAIT_OBJECT_0)
        OnConsoleControl(CTRL_BREAK_EVENT);
}

HANDLE ParentStopEvent()
{
    const char* text = getenv(kChildStopEventEnv);
    if (!text || !*text)
        return nullptr;
    char* end = nullptr;
    const unsigned long long value = strtoull(text, &end, 10);
    HANDLE stop = HANDLE(uintptr_t(value));
    DWORD flags = 0;
    if (*end || value == 0 || !GetHandleInformation(stop, &flags))
        return nullptr;
    return stop;
}

void GuardLoop()
{
    WaitForSingleObject(g_guardEvent, INFINITE);
    Sleep(DWORD(g_guardMs));
    g_guardExpired();
}

}  // namespace

bool StopEventsInit(void (*guardExpired)(), int guardMs)
{
    g_guardExpired = guardExpired;
    g_guardMs = guardMs;
    g_wakeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    g_guardEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_finishedEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!g_wakeEvent || !g_guardEvent || !g_finishedEvent)
        return false;
    try {
        std::thread(GuardLoop).detach();
        if (HANDLE stop = ParentStopEvent())
            std::thread(WatchParentStop, stop).detach();
    } catch (...) {  // no thread: the main thread's own bounds still hold
    }
    return SetConsoleCtrlHandler(OnConsoleControl, TRUE) != 0;
}

bool StopSignalled()
{
    return g_signalled.load();
}

void StopWake()
{
    SetEvent(g_wakeEvent);
}

void StopArmGuard()
{
    SetEvent(g_guardEvent);
}

void StopWaitForWake(int waitMs)
{
    WaitForSingleObject(g_wakeEvent, DWORD(waitMs < 0 ? 0 : waitMs));
}

void StopFinished()
{
    if (g_finishedEvent)
        SetEvent(g_finishedEvent);
}

void StopSignalsBlock() {}

void StopSignalsRestore() {}

void ExitAtOnce(int code)
{
    // Not ExitProcess: it would run the runtime's shutdown, which flushes
    // streams a stuck worker may hold.
    TerminateProcess(GetCurrentProcess(), UINT(code));
    for (;;) {
    }
}
