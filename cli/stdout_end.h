// SPDX-License-Identifier: MIT
// The end of standard output's stream, for one port and for the production
// line: the last event, then the stdout writer's time to catch up, then a
// word on standard error about whatever never got there.
#pragma once

#include <cstdint>

// What the box's chatter (and, after a stop, every piece) still gets once the
// download is over.
constexpr int kStdoutGraceMs = 300;

// One port: the "result" event (with --json), then the writer's finish.
// Unless the download was stopped (a signal or --timeout, whose promise to
// end within 2 s comes first), events that must arrive are waited for until
// standard output takes them or a signal comes.
void EndPortOutput(int exitCode, int graceMs, bool stopped);
// The production line's parent, after its summary: the "dropped" event (with
// --json), then the writer's finish; the lines of the children that must
// arrive are waited for unless the line was stopped.
void EndLineOutput(bool json);
