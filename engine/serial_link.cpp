// SPDX-License-Identifier: MIT
// Serial link primitives.
//
// The box's side may be slow, chatty or silent; none of these calls may
// block on it. A read is made only once the driver reports bytes waiting,
// and every wait runs down a count of 10 ms sleeps, never wall time: the
// time spent querying and reading is not counted, so a steady stream of
// bytes never uses up a time-out.
#include "serial_link.h"

#include "engine.h"

#include <cstdio>

uint32_t PortInQueue(PortHandle port)
{
    PortQueueStatus st{};
    if (!port || !port->QueueStatus(&st))
        return 0;
    return st.cbInQue;
}

uint32_t PortRead(PortHandle port, uint8_t* buffer, uint32_t count)
{
    uint32_t got = 0;
    if (!port || !port->Read(buffer, count, &got))
        return 0;
    return got;
}

uint32_t PortWrite(PortHandle port, const uint8_t* buffer, uint32_t count)
{
    uint32_t put = 0;
    if (!port || !port->Write(buffer, count, &put))
        return 0;
    return put;
}

int PortPutByte(int byte)
{
    const uint8_t b = static_cast<uint8_t>(byte);
    uint32_t put = 0;
    if (!g_enginePort || !g_enginePort->Write(&b, 1, &put))
        return 1;
    return 0;
}

// Ticks slept in a row while the port said it was gone. Only the worker
// touches it; Start resets it before the worker begins.
static int s_lostTicks = 0;

void PortResetLostWatch()
{
    s_lostTicks = 0;
}

bool PortInterrupted()
{
    return EngineStopRequested() || g_bEngineLineLost.load(std::memory_order_acquire) != 0;
}

// One tick, and the lost-port watch: a port that has reported itself gone
// on every call for PORT_LOST_TICKS ticks is lost for good. Waiting in
// ticks keeps a dead line from spinning while the verdict is made.
static void SleepTick(PortHandle port)
{
    if (!port)
        return;
    port->SleepTick();
    const char* gone = port->LostReason();
    if (!gone) {
        s_lostTicks = 0;
        return;
    }
    if (++s_lostTicks >= PORT_LOST_TICKS)
        EngineMarkLineLost(gone);
}

// Box output seen outside a frame: to the front end's sink, or stdout.
static void Echo(uint8_t b)
{
    if (g_pfnEchoSink)
        g_pfnEchoSink(&b, 1);
    else
        fputc(b, stdout);
}

// A failed read while bytes are reported is retried at once; if it fails
// again, each further try costs a tick, so a port that keeps failing ends
// the wait by its time-out instead of spinning forever.
static void ConsumeTickAfterFailedRead(PortHandle port, int* n, bool* failedBefore)
{
    if (*failedBefore && *n > 0) {
        SleepTick(port);
        --*n;
    }
    *failedBefore = true;
}

enum class Wait { Byte, TimedOut, Interrupted };

// The receive wait shared by PortReceiveByte and PortGetByte: the byte in
// *out, or a time-out once `ticks` sleeps have passed with nothing read, or
// an interruption (stop request, lost port) seen before a tick. Bytes that
// are already waiting are still read after a stop, as PortWaitFor does.
static Wait ReceiveWait(PortHandle port, uint8_t* out, int ticks)
{
    int n = ticks;
    if (n <= 0)
        return Wait::TimedOut;
    bool readFailed = false;
    for (;;) {
        if (PortInQueue(port) == 0) {
            for (;;) {
                if (n == 0)
                    break;
                if (PortInterrupted())
                    return Wait::Interrupted;
                SleepTick(port);
                --n;
                if (PortInQueue(port) != 0)
                    break;
            }
        }
        if (PortInQueue(port) != 0) {
            uint8_t b = 0;
            if (PortRead(port, &b, 1) == 1) {
                *out = b;
                return Wait::Byte;
            }
            ConsumeTickAfterFailedRead(port, &n, &readFailed);
        }
        if (n == 0)
            return Wait::TimedOut;
    }
}

uint8_t PortReceiveByte(PortHandle port, int ticks)
{
    uint8_t b = 0;
    const Wait w = ReceiveWait(port, &b, ticks);
    if (w == Wait::Byte)
        return b;
    // A stop or a lost port is told by the session's own ending, not as
    // a silent box.
    if (w == Wait::Interrupted)
        return 0;
    // Ticks are 10 ms each: report the time that really passed.
    EngineLog(LOG_ERROR, "[VUMO] Receive nothing in %dms.\r\n", ticks * PORT_TICK_MS);
    return 0;
}

int PortGetByte(uint8_t* byte, int ticks)
{
    uint8_t b = 0;
    if (ReceiveWait(g_enginePort, &b, ticks) != Wait::Byte)
        return 1;
    *byte = b;
    return 0;
}

int PortWaitFor(PortHandle port, int awaited, int ticks)
{
    const uint8_t want = static_cast<uint8_t>(awaited);
    int n = ticks;
    if (n <= 0)
        return 0;
    bool readFailed = false;
    for (;;) {
        if (PortInterrupted())
            return 0;
        uint32_t waiting = PortInQueue(port);
        while (waiting == 0) {
            if (n == 0 || PortInterrupted())
                break;
            SleepTick(port);
            --n;
            waiting = PortInQueue(port);
        }
        // Whatever is already waiting is consumed, even after a stop request:
        // the box's chatter goes to standard output, the awaited byte ends
        // the wait, and anything behind it stays queued for the next read.
        while (PortInQueue(port) != 0) {
            uint8_t b = 0;
            if (PortRead(port, &b, 1) != 1) {
                ConsumeTickAfterFailedRead(port, &n, &readFailed);
                break;
            }
            readFailed = false;
            if (b == want)
                return 1;
            Echo(b);
        }
        if (n == 0)
            return 0;
    }
}

int PortDrainOutput(PortHandle port, int ticks)
{
    int n = ticks;
    for (;;) {
        PortQueueStatus st{};
        st.cbOutQue = 0;
        // A failed query reads as an empty queue: nothing is known to wait.
        if (!port || !port->QueueStatus(&st))
            st.cbOutQue = 0;
        if (st.cbOutQue == 0 || PortInterrupted())
            return 0;
        SleepTick(port);
        --n;
        if (n <= 0)
            return 0;
    }
}
