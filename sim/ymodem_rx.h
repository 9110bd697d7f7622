// SPDX-License-Identifier: MIT
// The box's YMODEM-1K receiver: it paces the sender with 'C', ACK, NAK and
// CAN and collects one batch of one file.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "faults.h"
#include "line.h"

namespace stbsim {

struct YmodemResult {
    bool ok = false;
    std::string failure;             // why the transfer failed, when it did
    std::string name;                // from block 0
    long long announced = -1;        // size field of block 0; -1 when absent
    std::vector<std::uint8_t> data;  // the data blocks, cut to the announced size
    bool leftSilent = false;         // a silent block fault was played
    bool hungUp = false;             // the line was closed on purpose: nothing more can be said
    bool restart = false;            // the box rebooted on purpose: the whole download starts over
};

// Receives one batch. Block faults are played only while faults.firstTransfer holds.
YmodemResult YmodemReceive(Line& line, Faults& faults);

}  // namespace stbsim
