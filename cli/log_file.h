// SPDX-License-Identifier: MIT
// --log FILE: every log line appended as "YYYY-MM-DD HH:MM:SS PORT text"
// (local time), whatever else shows it. Earlier content is kept.
#pragma once

#include <string>

// Opens (creates) the file for appending; false with the system's words.
bool LogFileOpen(const std::string& path, std::string* why);
// One line; trailing line breaks of the text are replaced by one "\n".
void LogFileWrite(const std::string& port, const std::string& text);
// The single-port download's LogTap, for the port set by LogFileSetPort.
void LogFileSetPort(const std::string& port);
void LogFileTap(const char* text, int level);
