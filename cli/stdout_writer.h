// SPDX-License-Identifier: MIT
// Standard output while a download runs: the box's console chatter, the
// --json events, the production line's forwarded lines. Whoever produces
// them (the engine's worker, the production line's event loop) only copies
// them into one bounded queue; a thread of the CLI writes the queue to fd 1.
// A reader that falls behind (or stops reading) costs the pieces that may be
// lost, and never holds up a download or the draining of a child's pipe.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

enum class StdoutClass {
    // The box's chatter, "progress" and "box-output": queued while less than
    // kStdoutDroppableBytes wait, dropped beyond.
    Droppable,
    // "log": queued while less than kStdoutKeptBytes wait. Past that the
    // reader has been gone for hours of log lines, and memory is bounded.
    Kept,
    // "start", "result" and the production line's last word: a few per run,
    // always queued.
    Essential,
};

constexpr size_t kStdoutDroppableBytes = size_t(1) << 20;
constexpr size_t kStdoutKeptBytes = size_t(32) << 20;

// Starts the writer thread (with SIGINT and SIGTERM blocked in it, so they
// keep reaching the main thread). Not between StopSignalsBlock and
// StopSignalsRestore. Without a thread every piece is dropped.
void StdoutWriterStart();
// Queues one piece (a whole line, or a run of the box's chatter) unless its
// class has no room left; false when it was dropped. Never blocks beyond a
// short lock.
bool StdoutWrite(const char* data, size_t size, StdoutClass cls);
inline bool StdoutWrite(const std::string& piece, StdoutClass cls)
{
    return StdoutWrite(piece.data(), piece.size(), cls);
}
// The engine's EchoSink without --json: the box's chatter as it is.
void StdoutChatterSink(const uint8_t* data, uint32_t count);

struct StdoutLoss {
    uint64_t bytes = 0;
    uint64_t pieces = 0;
};
// What has been dropped so far (not counting what still waits).
StdoutLoss StdoutDropped();
// Lets the writer catch up, then stops it from starting further writes. While
// a Kept or Essential piece waits and keepWaiting() says so, there is no time
// limit (a reader that is only slow gets every line); otherwise, and once only
// droppable pieces are left, at most graceMs. Never waits for a write in
// progress. Returns what did not reach stdout: dropped, or still waiting.
StdoutLoss StdoutFinish(int graceMs, const std::function<bool()>& keepWaiting);
