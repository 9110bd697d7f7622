// SPDX-License-Identifier: MIT
// Station mode's rule for what one run of a port's child was: a box that
// passed or failed (and counts), no box at all (the port waits for the next
// one), a port that went away before any transfer (waited for, not counted),
// or an ending that no next box would mend. The README's "when a box
// counts" is this rule.
#pragma once

#include <string>

// The reason of a run whose child ended without its result event (killed,
// crashed, or gone without its stuck engine).
extern const char kEndedAbnormally[];
// The reason of a box whose line was lost once the transfer had begun.
extern const char kLineLostInTransfer[];

enum class RunKind { Passed, Failed, NoBox, PortGone, Fatal };

struct RunFacts {
    int exitCode = 0;
    bool image = true;
    bool resultSeen = false;     // the child wrote its result event
    bool boxTalked = false;      // a frame from the box or an acknowledged block
    bool transferBegun = false;  // the box's download-start frame was answered, or a block acknowledged
};

struct RunVerdict {
    RunKind kind;
    std::string reason;  // in the words of the result line and the summary
};

RunVerdict StationVerdict(const RunFacts& facts);
