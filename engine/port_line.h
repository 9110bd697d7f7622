// SPDX-License-Identifier: MIT
// The platform seam under the serial link primitives.
//
// The engine touches the serial line only through a few operations: a queue
// status query, a read, a write, a sleep of one tick (10 ms) and a shorter
// sleep while the transmit queue empties.  A port
// handle points at one PortLine; the POSIX backend drives a real tty or pty,
// the virtual line scripts a peer against a virtual clock for tests.
#pragma once

#include <cstdint>

struct PortQueueStatus {
    uint32_t cbInQue;   // received, not yet read
    uint32_t cbOutQue;  // handed to the driver, not yet transmitted
};

class PortLine {
public:
    virtual ~PortLine() = default;
    // Counts as they stand at the moment of the call; clears any pending line
    // error. Never blocks. Returns false when the query fails.
    virtual bool QueueStatus(PortQueueStatus* status) = 0;
    // The receive count alone, for the many callers that need nothing
    // else: a backend that must ask the system twice for both counts
    // answers it with one call. Same failure rule as QueueStatus.
    virtual bool InQueue(uint32_t* in)
    {
        PortQueueStatus st{};
        if (!QueueStatus(&st))
            return false;
        *in = st.cbInQue;
        return true;
    }
    // Synchronous read of up to `count` bytes; with bytes waiting a read of
    // one byte returns at once. Returns false on failure.
    virtual bool Read(uint8_t* buffer, uint32_t count, uint32_t* got) = 0;
    // Queues bytes for transmission in order; bounded in time.
    // Returns false on failure; *put is the number accepted.
    virtual bool Write(const uint8_t* buffer, uint32_t count, uint32_t* put) = 0;
    // Suspends the caller for one tick.
    virtual void SleepTick() = 0;
    // Suspends the caller for up to `ticks` ticks (at least one), ending
    // early once a byte arrives or PortWakeWaits is called; returns the
    // ticks that passed, a tick begun counting as a whole one, so a wait
    // runs down its count as a series of SleepTick calls would. One long
    // sleep instead of a wake-up every tick is what keeps a wait cheap on a
    // host that runs many lines. The default sleeps a single tick.
    virtual int SleepTicks(int ticks)
    {
        (void)ticks;
        SleepTick();
        return 1;
    }
    // Suspends the caller for about `us` microseconds (less than a tick) and
    // returns the microseconds that really passed; 0 when the line cannot
    // sleep that short and has not slept. A wait for the transmit queue uses
    // it so that a piece of a few milliseconds on the line does not cost a
    // whole tick of idle line.
    virtual int64_t SleepShort(int64_t us)
    {
        (void)us;
        return 0;
    }

    // The rate the line was opened at, in bit/s; 0 when it has none (a
    // scripted line): how long queued bytes take to leave is then unknown.
    uint32_t Baud() const { return m_baud; }
    void SetBaud(uint32_t baud) { m_baud = baud; }

    // Non-null while the device itself is gone (a hung-up line, a removed
    // adapter, a closed pty master): the system's words for it. Set by a
    // call that failed that way, cleared by the next call that succeeds, so
    // one stray error never reads as a lost port.
    virtual const char* LostReason() const { return nullptr; }

    // Consulted while a write waits for the driver to take bytes: true ends
    // the wait, so a stop request never waits on a stalled line.
    void SetWriteGiveUp(bool (*giveUp)()) { m_giveUp = giveUp; }

    // The serial link's read-ahead: what one read fetched from the driver
    // and the engine has not consumed yet. It lives and dies with the line,
    // so bytes of a closed port never reach a port opened after it. Only
    // the serial link touches it.
    struct ReadAheadBuffer {
        static constexpr uint32_t kSize = 4096;  // a tty's whole input buffer
        uint8_t bytes[kSize];
        uint32_t head = 0;  // next byte to hand out
        uint32_t tail = 0;  // one past the last byte held
    };
    ReadAheadBuffer& ReadAhead() { return m_readAhead; }

protected:
    bool WriteGivenUp() const { return m_giveUp && m_giveUp(); }

private:
    bool (*m_giveUp)() = nullptr;
    uint32_t m_baud = 0;
    ReadAheadBuffer m_readAhead;
};

using PortHandle = PortLine*;

// Ends every SleepTicks in progress in this process, and the next one to
// start if none is: called once a stop has been asked for, so that a long
// wait sees the stop at once rather than at the end of its ticks.
void PortWakeWaits();
