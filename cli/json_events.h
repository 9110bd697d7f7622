// SPDX-License-Identifier: MIT
// --json: one JSON object per line on standard output, for a line controller
// (and for the production line's parent, which reads its children this way).
// Every object carries "event", "time" (ISO 8601 with offset), "port" (as
// given) and, in station mode, "box". The README documents the kinds.
// Everything goes out through the stdout writer (stdout_writer.h): a slow
// reader loses "progress" and "box-output" events first, never the download.
// The parent writes events of its own with the same quoting, time stamp and
// exit reasons: hence the headers included here.
#pragma once

#include "event_time.h"
#include "exit_codes.h"
#include "json_encoding.h"

#include "engine.h"

#include <cstdint>
#include <string>

// Switches the events on for this process. box 0: not in station mode.
void JsonEventsEnable(const std::string& port, int box, bool image);
bool JsonEventsEnabled();

// The port and the download file are open. A served file's "start" goes out
// now, with the file's size when it is a regular file (the file is never read
// for it). An image's "start" waits for JsonImageSink.
void JsonEmitStart(const std::string& file, bool image, bool sizeKnown, uint64_t size);
// The engine's ImageSink: the padded image as it will be sent, once loaded
// and accepted. "start" goes out with its size and sha256; a stop while the
// digest is taken gives up on both.
void JsonImageSink(const uint8_t* image, uint32_t size);
// A LogTap: every log line as a "log" event.
void JsonLogTap(const char* text, int level);
// The engine's progress report (engine.h's ByteProgressSink, with the
// percentage it makes), as "progress" events: one per percent.
void JsonProgress(int percent, uint64_t acknowledged, uint64_t total);
// The engine's StageSink: "stage" events, so that a reader learns that the
// box is there and that its download has begun without reading log text.
void JsonStageSink(EngineStage stage);
// The engine's EchoSink: the box's console bytes as "box-output" events.
void JsonEchoSink(const uint8_t* data, uint32_t count);
// "result", from the exit code the download ends with, with the number of
// events dropped before it. The last event: nothing is emitted after it.
void JsonEmitResult(int exitCode);

// The production line's parent: one event line of a child, passed on as it
// is; its kind decides what happens to it when stdout falls behind.
void JsonForwardLine(const std::string& line);
// The production line's parent, at its very end: "dropped", when events of
// its children had to be left out.
void JsonEmitLineDropped(uint64_t events);
