// SPDX-License-Identifier: MIT
// The box's side of a fuzzed exchange: a virtual-time line that records
// every byte with its tick, and a script of records (bytes the box sends)
// fed in answer to the engine.
//
// A record is fed once the engine has taken the previous one off the line
// and then either written something (the box answers) or stayed quiet for
// a while; its delay byte sets how late it comes, up to well past the
// longest reply time-out. After the last record the operator's stop comes
// once the line has been quiet for the script's quiet time.
#pragma once

#include "fuzz_input.h"
#include "virtual_line.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

struct TimedByte {
    int64_t tick;
    uint8_t byte;
    // Box bytes: how many bytes the engine had written when this one became
    // readable (-1 while it has not arrived). Ticks are too coarse to order
    // a reply against a send: many writes and arrivals share one tick.
    int64_t after = -1;
};

struct BoxRecord {
    uint8_t delay;
    std::vector<uint8_t> bytes;
    bool midFrame = false;  // set by a caller whose model sees a frame cut at its end
};

// Delay byte to ticks: 0..199 as they are, then steps of 100 ticks up to
// 5600, past the 5000-tick reply wait of the YMODEM header.
int64_t BoxDelayTicks(uint8_t delay);

// Records from the rest of the input: [delay][length][bytes...] each.
std::vector<BoxRecord> ReadBoxRecords(FuzzInput& in);

class BoxLine : public VirtualLine {
public:
    bool Read(uint8_t* buffer, uint32_t count, uint32_t* got) override;
    void SleepTick() override;

    std::vector<TimedByte> written;  // what the engine wrote, with ticks
    std::vector<TimedByte> arrived;  // what the box sent, by arrival tick
    int64_t lastRead = -1;           // tick of the last read that returned bytes
    int64_t lastWrite = -1;

    // Box bytes to arrive at tick `at`, recorded for the checks.
    void Send(const std::vector<uint8_t>& bytes, int64_t at);

private:
    std::vector<size_t> m_notYet;  // indices into `arrived` still in the future
};

class BoxScript {
public:
    enum class Pace {
        Answer,   // next record after the engine's next write (or 300 quiet ticks)
        Settled,  // next record once the last is read; a cut frame waits out every frame time-out
    };

    BoxScript(BoxLine& line, std::vector<BoxRecord> records, Pace pace, int64_t quietTicks);

    // Installs the hooks on the line and feeds the first record.
    void Start();

    int64_t stopAt = -1;    // tick of the operator's stop, -1 while none
    bool livelock = false;  // never quiet although the box had said everything
    int64_t doneAt = -1;    // tick the last record had been read

private:
    void OnTick();
    void FeedNext(int64_t at);
    int64_t LastActivity() const;

    BoxLine& m_line;
    std::vector<BoxRecord> m_records;
    Pace m_pace;
    int64_t m_quiet;
    size_t m_next = 0;
    bool m_waitingRead = false;  // the last record is not read yet
    int64_t m_arrival = 0;       // tick the last record arrives
    int64_t m_readAt = -1;       // tick the last record was found read
    bool m_lastCut = false;
};

// A fixed clock for the time replies, so that a replay is exact.
time_t FuzzClock(time_t* out);
