// SPDX-License-Identifier: MIT
// --json: one JSON object per line on standard output, for a line controller
// (and for the production line's parent, which reads its children this way).
// Every object carries "event", "time" (ISO 8601 with offset), "port" (as
// given) and, in station mode, "box". The README documents the kinds.
#pragma once

#include <cstdint>
#include <string>

// Switches the events on for this process. box 0: not in station mode.
void JsonEventsEnable(const std::string& port, int box, bool image);
bool JsonEventsEnabled();

// "start": the port is open and the file is readable. For an image, size and
// sha256 are those of the padded image as sent (payload and 0xFF padding).
void JsonEmitStart(const std::string& file, bool image);
// A LogTap: every log line as a "log" event.
void JsonLogTap(const char* text, int level);
// The engine's progress value, as "progress" events (one per percent).
void JsonProgress(int percent);
// The engine's EchoSink: the box's console bytes as "box-output" events.
void JsonEchoSink(const uint8_t* data, uint32_t count);
// "result", from the exit code the download ends with.
void JsonEmitResult(int exitCode);

// What the exit codes mean, in the words of the result event and the summary.
const char* ExitReason(int exitCode, bool image);

// Shared with the parent: JSON string escaping (bytes outside printable
// ASCII as \u00XX) and the time stamp.
std::string JsonQuote(const std::string& bytes);
std::string IsoTimeNow();
