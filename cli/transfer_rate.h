// SPDX-License-Identifier: MIT
// How fast a transfer goes and how long it has left, from the engine's
// progress reports: one per acknowledged 1 KiB block, each with the bytes
// the box has acknowledged and the percentage of the image they make. The
// progress bar and the "progress" events both count this way.
#pragma once

#include <chrono>
#include <cstdint>

class TransferRate {
public:
    struct Figures {
        uint64_t bytes;      // acknowledged, no more than the image's size
        double rate;         // bytes a second since the first block; 0 at first
        double secondsLeft;  // at that rate; -1 without a rate or a size
    };

    // One acknowledged block: `acknowledged` bytes so far, `percent` of the
    // image. A count no higher than the last one means the box started the
    // transfer again: the clock starts over. True when the percentage moved
    // (from 0 at the start of a transfer).
    bool Acknowledged(int percent, uint64_t acknowledged);
    // The session's final 0: no transfer under way.
    void Reset();
    // Now; size 0 when the image's size is not known.
    Figures Now(uint64_t size) const;

private:
    using Clock = std::chrono::steady_clock;
    int lastPercent = 0;
    uint64_t bytes = 0;
    Clock::time_point firstBlock;
};
