// SPDX-License-Identifier: MIT
#include "box_verdict.h"

#include "exit_codes.h"

const char kEndedAbnormally[] = "ended abnormally";
const char kLineLostInTransfer[] = "line lost during the transfer";

RunVerdict StationVerdict(const RunFacts& f)
{
    const std::string reason = ExitReason(f.exitCode, f.image);
    // The lost line comes first: exit code 3 is the engine's own finding
    // (the port stayed gone), whether or not the child got to say more.
    // Once the box has begun the transfer it holds part of an image, so it
    // counts; before that it is an adapter unplugged between boxes.
    if (f.exitCode == EXIT_PORT) {
        if (f.transferBegun)
            return {RunKind::Failed, kLineLostInTransfer};
        return {RunKind::PortGone, reason};
    }
    // Without its result event the child did not end on its own account:
    // its exit code proves nothing, least of all a pass.
    if (!f.resultSeen)
        return {f.boxTalked ? RunKind::Failed : RunKind::NoBox, kEndedAbnormally};
    if (f.exitCode == EXIT_SENT)
        return {RunKind::Passed, reason};
    // The file or the command line: no next box would fare better.
    if (f.exitCode == EXIT_USAGE || f.exitCode == EXIT_FILE || (f.exitCode == EXIT_REJECTED && !f.boxTalked))
        return {RunKind::Fatal, reason};
    // Incomplete (--timeout, a stop) or rejected: a box only if one was there.
    return {f.boxTalked ? RunKind::Failed : RunKind::NoBox, reason};
}
