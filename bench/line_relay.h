// SPDX-License-Identifier: MIT
// A paced serial line between a sender on a pty master and a receiver on
// two pipes, both directions at the same rate, until the receiver ends.
#pragma once

#include "paced_line.h"

#include <cstdint>
#include <string>

namespace bench {

struct RelayRun {
    PacedLine toReceiver;
    PacedLine toSender;
    bool receiverEnded = false;  // its output pipe closed
    std::string error;           // empty when the relay itself worked
    explicit RelayRun(uint32_t baud) : toReceiver(baud), toSender(baud) {}
    bool FellBehind() const { return toReceiver.FellBehind() || toSender.FellBehind(); }
};

// Relays until the receiver's output ends and everything queued has been
// delivered, or `timeoutMs` passes.
void RunRelay(RelayRun* run, int senderMaster, int toReceiverFd, int fromReceiverFd, int timeoutMs);

}  // namespace bench
