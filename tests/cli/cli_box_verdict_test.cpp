// SPDX-License-Identifier: MIT
// Station mode's rule for when a box counts, case by case.
#include "box_verdict.h"
#include "exit_codes.h"

#include <gtest/gtest.h>

namespace {

struct VerdictCase {
    const char* what;
    int exitCode;
    bool resultSeen, boxTalked, transferBegun;
    RunKind kind;
    const char* reason;  // nullptr: not checked
};

TEST(StationVerdict, WhenABoxCounts)
{
    const VerdictCase cases[] = {
        {"sent", EXIT_SENT, true, true, true, RunKind::Passed, "sent"},
        {"line lost after the handshake", EXIT_PORT, true, true, true, RunKind::Failed,
         "line lost during the transfer"},
        {"line lost, child gone without its result", EXIT_PORT, false, true, true, RunKind::Failed,
         "line lost during the transfer"},
        {"port gone before any transfer", EXIT_PORT, true, false, false, RunKind::PortGone, nullptr},
        {"port gone after a stray frame, no handshake", EXIT_PORT, true, true, false, RunKind::PortGone, nullptr},
        {"killed in the transfer", 128 + 9, false, true, true, RunKind::Failed, "ended abnormally"},
        {"killed while waiting for a box", 128 + 9, false, false, false, RunKind::NoBox, "ended abnormally"},
        {"exit 0 without its result is no pass", EXIT_SENT, false, true, true, RunKind::Failed, "ended abnormally"},
        {"stopped in the transfer", EXIT_INCOMPLETE, true, true, true, RunKind::Failed, "incomplete"},
        {"stopped while waiting", EXIT_INCOMPLETE, true, false, false, RunKind::NoBox, nullptr},
        {"rejected by the box", EXIT_REJECTED, true, true, true, RunKind::Failed, "rejected"},
        {"image rejected by the engine", EXIT_REJECTED, true, false, false, RunKind::Fatal, "rejected"},
        {"file unreadable", EXIT_FILE, true, false, false, RunKind::Fatal, "file unreadable"},
        {"usage", EXIT_USAGE, true, false, false, RunKind::Fatal, "usage error"},
    };
    for (const VerdictCase& c : cases) {
        SCOPED_TRACE(c.what);
        RunFacts f;
        f.exitCode = c.exitCode;
        f.resultSeen = c.resultSeen;
        f.boxTalked = c.boxTalked;
        f.transferBegun = c.transferBegun;
        RunVerdict v = StationVerdict(f);
        EXPECT_EQ(int(v.kind), int(c.kind));
        if (c.reason) {
            EXPECT_EQ(v.reason, c.reason);
        }
    }
}

}  // namespace
