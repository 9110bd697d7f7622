// SPDX-License-Identifier: MIT
// How fast a transfer goes and how long it has left, from the engine's
// progress reports: one per acknowledged 1 KiB block, each with the
// percentage that block brings the image to. The progress bar and the
// "progress" events both count this way.
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

    // One acknowledged block. A lower percentage than the last one means the
    // box started the transfer again: the count starts over. True when the
    // percentage moved (the first block of a transfer always does).
    bool Block(int percent);
    // The session's final 0: no transfer under way.
    void Reset();
    // Now; size 0 when the image's size is not known.
    Figures Now(uint64_t size) const;

private:
    using Clock = std::chrono::steady_clock;
    int lastPercent = 0;
    uint64_t blocks = 0;
    Clock::time_point firstBlock;
};
