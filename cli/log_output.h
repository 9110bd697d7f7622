// SPDX-License-Identifier: MIT
// The log on standard error, line for line as the operator console shows it:
// "HH:MM:SS  " + the text, coloured by level on a terminal, and a one-line
// progress bar under it while an image is being sent.
//
// Every entry point may be called from the engine's worker thread as well as
// from the main thread; output is serialised by one mutex.
#pragma once

#include <cstdint>

// Decides once whether stderr is a terminal and whether colour is wanted.
void LogOutputInit();
// Writes one line with its time stamp; the text keeps its own line ending.
void LogWrite(const char* text, int level);
void LogPrintf(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
// The padded image size as the file's length gives it; 0 (no image, or a
// device with no length) switches the bar off. The bar itself counts against
// the total the engine reports.
void LogSetImageSize(uint64_t size);
// The engine's progress report: the bytes the box has acknowledged of the
// image's total and the percentage they make; 0 bytes at the end of a
// session. Draws the bar on a terminal only.
void LogProgress(int percent, uint64_t acknowledged, uint64_t total);
// Another destination for every line (JSON events, the log file); up to four.
using LogTap = void (*)(const char* text, int level);
void LogAddTap(LogTap tap);
// No human lines on standard error: a child of the production line, whose
// parent shows them from its events.
void LogSetQuiet(bool quiet);
// Removes a bar that is still shown (before the program exits).
void LogClearBar();
