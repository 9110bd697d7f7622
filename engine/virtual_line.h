// SPDX-License-Identifier: MIT
// A scripted serial line on a virtual clock, for unit tests of the engine.
//
// Time moves only when the engine sleeps: each SleepTick advances the clock
// by one tick and is counted. Bytes from the peer are fed to arrive at given
// tick times; a hook may answer what the engine writes, so a scripted
// receiver can hold a whole conversation without a real thread or a real
// clock. Waits of 5000 s run in milliseconds and always the same way.
#pragma once

#include "port_line.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <vector>

class VirtualLine : public PortLine {
public:
    using WriteHook = std::function<void(VirtualLine& line, const uint8_t* data, uint32_t count)>;
    using SleepHook = std::function<void(VirtualLine& line)>;

    bool QueueStatus(PortQueueStatus* status) override;
    bool Read(uint8_t* buffer, uint32_t count, uint32_t* got) override;
    bool Write(const uint8_t* buffer, uint32_t count, uint32_t* put) override;
    void SleepTick() override;
    // Moves a clock of microseconds: every whole tick of short sleeps counts
    // as a tick (Now(), the sleep hook), and the transmit queue empties by
    // the share of its rate per tick that the sleep covers.
    int64_t SleepShort(int64_t us) override;

    // Peer bytes that arrive at tick `at` (default: now).
    void Feed(const std::vector<uint8_t>& bytes, int64_t at = -1);
    void Feed(std::initializer_list<uint8_t> bytes, int64_t at = -1);

    // Called on every write with the bytes written (after they are recorded).
    void OnWrite(WriteHook hook);
    // Called after every tick (the clock already advanced).
    void OnSleep(SleepHook hook);

    // Transmit queue: each write adds its bytes; every tick transmits
    // `bytesPerTick` of them (0: the queue always reads empty). A stuck queue
    // never empties.
    void SetTransmitRate(uint32_t bytesPerTick);
    void SetTransmitStuck(bool stuck);

    const char* LostReason() const override;

    // The port is gone from tick `from` (default: now) until tick `until`
    // (default: for good): every status query, read and write fails and
    // LostReason() gives `reason`, as a pulled adapter does.
    void LoseLine(const char* reason, int64_t from = -1, int64_t until = -1);
    // Status queries made so far: a dead line must not be polled in a spin.
    int64_t StatusQueries() const;

    // Failure injection: the next n calls of that kind fail.
    void FailStatus(int n);
    void FailReads(int n);
    void FailWrites(int n);

    int64_t Now() const;           // ticks since the start
    int64_t Sleeps() const;        // same as Now(): only sleeps move the clock
    int64_t Microseconds() const;  // ticks and short sleeps together
    int64_t ShortSleeps() const;
    uint32_t Pending() const;  // arrived, not yet read
    std::vector<uint8_t> Written() const;
    std::vector<std::vector<uint8_t>> WriteCalls() const;  // one entry per Write
    void ClearWritten();

private:
    struct Arrival {
        int64_t at;
        uint8_t byte;
    };
    void ArriveLocked();

    mutable std::recursive_mutex m_lock;
    int64_t m_now = 0;
    std::deque<Arrival> m_future;  // sorted by time
    std::deque<uint8_t> m_arrived;
    std::vector<uint8_t> m_written;
    std::vector<std::vector<uint8_t>> m_calls;
    WriteHook m_onWrite;
    SleepHook m_onSleep;
    uint32_t m_rate = 0;
    bool m_stuck = false;
    uint64_t m_outQueue = 0;
    int64_t m_partUs = 0;         // short sleeps short of a whole tick
    uint64_t m_sendCreditUs = 0;  // x rate: bytes under way, not yet whole
    int64_t m_shortSleeps = 0;
    int m_failStatus = 0;
    int m_failReads = 0;
    int m_failWrites = 0;
    bool GoneLocked();
    bool FailsNowLocked(int* pendingFailures);
    const char* m_lostReason = nullptr;
    int64_t m_lostFrom = -1;
    int64_t m_lostUntil = -1;
    const char* m_lastLost = nullptr;
    int64_t m_statusQueries = 0;
};
