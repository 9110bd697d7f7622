// SPDX-License-Identifier: MIT
// Serial link primitives.
//
// The box's side may be slow, chatty or silent; none of these calls may
// block on it. A read is made only once the driver reports bytes waiting,
// and every wait runs down a count of 10 ms sleeps, never wall time: the
// time spent querying and reading is not counted, so a steady stream of
// bytes never uses up a time-out. A port that can end a sleep on a byte or
// a stop (POSIX) sleeps a wait's remaining ticks in one go and reports the
// ticks that passed, so a host running many lines is not woken every tick
// of every wait. The wait for the transmit queue may sleep shorter than a
// tick; it counts the time those sleeps took.
//
// Reads take everything the driver reports waiting in one call, into the
// line's read-ahead: a byte per system call cannot keep up with a chatty
// box at high rates. The engine still consumes byte by byte from there, in
// order, and a wait that finds bytes held never sleeps, so every time-out
// counts the same ticks as when each byte was read on its own; bytes behind
// the one a wait returns simply stay held for the next read.
#include "serial_link.h"

#include "engine.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

uint32_t Held(PortHandle port)
{
    if (!port)
        return 0;
    const PortLine::ReadAheadBuffer& ra = port->ReadAhead();
    return ra.tail - ra.head;
}

// Lets go of the oldest `count` held bytes.
void DropHeld(PortHandle port, uint32_t count)
{
    PortLine::ReadAheadBuffer& ra = port->ReadAhead();
    ra.head += std::min(count, ra.tail - ra.head);
    if (ra.head == ra.tail)
        ra.head = ra.tail = 0;
}

// Hands out up to `count` held bytes, oldest first.
uint32_t TakeHeld(PortHandle port, uint8_t* buffer, uint32_t count)
{
    PortLine::ReadAheadBuffer& ra = port->ReadAhead();
    const uint32_t n = std::min(count, ra.tail - ra.head);
    memcpy(buffer, ra.bytes + ra.head, n);
    DropHeld(port, n);
    return n;
}

// The driver's receive count, one status query; 0 when the query fails.
uint32_t DriverInQueue(PortHandle port)
{
    uint32_t in = 0;
    if (!port || !port->InQueue(&in))
        return 0;
    return in;
}

// One read of the `reported` bytes the driver said are waiting (no more:
// a read never asks for bytes that have not arrived) into the empty
// read-ahead. False when the read fails or brings nothing.
bool Fill(PortHandle port, uint32_t reported)
{
    PortLine::ReadAheadBuffer& ra = port->ReadAhead();
    const uint32_t want = std::min(reported, PortLine::ReadAheadBuffer::kSize);
    uint32_t got = 0;
    if (!port->Read(ra.bytes, want, &got) || got == 0)
        return false;
    ra.head = 0;
    ra.tail = std::min(got, want);
    return true;
}

// What the engine may take now: the held bytes, or else the driver's count.
uint32_t Waiting(PortHandle port)
{
    const uint32_t held = Held(port);
    return held ? held : DriverInQueue(port);
}

}  // namespace

uint32_t PortInQueue(PortHandle port)
{
    return Held(port) + DriverInQueue(port);
}

uint32_t PortRead(PortHandle port, uint8_t* buffer, uint32_t count)
{
    if (!port)
        return 0;
    // Held bytes came first on the line: they go first.
    if (Held(port) != 0)
        return TakeHeld(port, buffer, count);
    uint32_t got = 0;
    if (!port->Read(buffer, count, &got))
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

// The lost-port watch, once per tick of waiting: a port that has reported
// itself gone on every call for PORT_LOST_TICKS ticks is lost for good.
// Waiting in ticks keeps a dead line from spinning while the verdict is made.
static void WatchLost(PortHandle port)
{
    const char* gone = port->LostReason();
    if (!gone) {
        s_lostTicks = 0;
        return;
    }
    if (++s_lostTicks >= PORT_LOST_TICKS)
        EngineMarkLineLost(gone);
}

// One tick, and the lost-port watch.
static void SleepTick(PortHandle port)
{
    if (!port)
        return;
    port->SleepTick();
    WatchLost(port);
}

// Up to `ticks` ticks, ending early on a byte or a stop; the ticks used.
// The port sleeps longer than a tick only while its line is neither
// failing nor gone, so the watch sees every tick that matters to it.
static int SleepTicks(PortHandle port, int ticks)
{
    if (!port)
        return 1;
    const int used = port->SleepTicks(ticks);
    WatchLost(port);
    return used;
}

// Box output seen outside a frame, a run at a time: to the front end's
// sink, or stdout.
static void Echo(const uint8_t* bytes, uint32_t count)
{
    if (count == 0)
        return;
    if (g_pfnEchoSink)
        g_pfnEchoSink(bytes, count);
    else
        fwrite(bytes, 1, count, stdout);
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
        // The driver's count found by the last look, which the read below
        // then uses rather than asking again.
        uint32_t reported = 0;
        if (Held(port) == 0) {
            reported = DriverInQueue(port);
            while (reported == 0 && n > 0) {
                if (PortInterrupted())
                    return Wait::Interrupted;
                n -= SleepTicks(port, n);
                // A tick may have read what arrived into the read-ahead.
                if (Held(port) != 0)
                    break;
                reported = DriverInQueue(port);
            }
        }
        if (Held(port) != 0) {
            TakeHeld(port, out, 1);
            return Wait::Byte;
        }
        if (reported != 0) {
            if (Fill(port, reported)) {
                TakeHeld(port, out, 1);
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
        uint32_t waiting = Waiting(port);
        while (waiting == 0) {
            if (n == 0 || PortInterrupted())
                break;
            n -= SleepTicks(port, n);
            waiting = Waiting(port);
        }
        // Whatever is already waiting is consumed, even after a stop request:
        // the box's chatter goes to standard output, the awaited byte ends
        // the wait, and anything behind it stays held for the next read.
        for (;;) {
            if (Held(port) == 0) {
                const uint32_t reported = DriverInQueue(port);
                if (reported == 0)
                    break;
                if (!Fill(port, reported)) {
                    ConsumeTickAfterFailedRead(port, &n, &readFailed);
                    break;
                }
                readFailed = false;
            }
            PortLine::ReadAheadBuffer& ra = port->ReadAhead();
            const uint8_t* from = ra.bytes + ra.head;
            const uint32_t held = ra.tail - ra.head;
            const auto* hit = static_cast<const uint8_t*>(memchr(from, want, held));
            const uint32_t stray = hit ? uint32_t(hit - from) : held;
            Echo(from, stray);
            if (hit) {
                DropHeld(port, stray + 1);
                return 1;
            }
            DropHeld(port, stray);
        }
        if (n == 0)
            return 0;
    }
}

uint32_t PortDiscardInput(PortHandle port)
{
    if (!port)
        return 0;
    uint32_t dropped = Held(port);
    DropHeld(port, dropped);
    // Bounded: a box that babbles without pause must not keep the sender
    // here; what arrives after the last read is the next wait's to judge.
    for (int reads = 0; reads < 8; ++reads) {
        const uint32_t reported = DriverInQueue(port);
        if (reported == 0 || !Fill(port, reported))
            break;
        const uint32_t got = Held(port);
        DropHeld(port, got);
        dropped += got;
    }
    return dropped;
}

namespace {

constexpr int64_t kTickUs = int64_t(PORT_TICK_MS) * 1000;

// How long `queued` bytes take to leave at the port's rate (8N1: ten bits
// a byte), rounded up; 0 when the rate is not known.
int64_t SendingUs(PortHandle port, uint32_t queued)
{
    const uint32_t baud = port->Baud();
    if (baud == 0)
        return 0;
    return (int64_t(queued) * 10 * 1000000 + baud - 1) / baud;
}

}  // namespace

int PortDrainOutput(PortHandle port, int ticks)
{
    // The bound is time, not a count of looks: short sleeps add up to ticks
    // like whole ones, and the lost-port watch runs once per tick of them.
    const int64_t boundUs = int64_t(ticks) * kTickUs;
    int64_t spentUs = 0;
    int64_t unwatchedUs = 0;
    for (;;) {
        PortQueueStatus st{};
        st.cbOutQue = 0;
        // A failed query reads as an empty queue: nothing is known to wait.
        if (!port || !port->QueueStatus(&st))
            st.cbOutQue = 0;
        if (st.cbOutQue == 0 || PortInterrupted())
            return 0;
        // Sleep just as long as the bytes still queued need at the line's
        // rate: a piece of 256 bytes is 2.8 ms at 921600 bit/s, and a whole
        // tick after it would leave the line idle three quarters of the time.
        const int64_t needUs = SendingUs(port, st.cbOutQue);
        int64_t slept = needUs > 0 && needUs < kTickUs ? port->SleepShort(needUs) : 0;
        if (slept > 0) {
            unwatchedUs += slept;
            if (unwatchedUs >= kTickUs) {
                unwatchedUs -= kTickUs;
                WatchLost(port);
            }
        } else {
            SleepTick(port);
            slept = kTickUs;
        }
        spentUs += slept;
        if (spentUs >= boundUs)
            return 0;
    }
}
