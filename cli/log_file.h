// SPDX-License-Identifier: MIT
// --log FILE: every log line appended as "YYYY-MM-DD HH:MM:SS PORT text"
// (local time), whatever else shows it. Earlier content is kept. The file is
// part of the run's record: a line that cannot be written is counted, and
// the front ends say so at once and again at the end.
#pragma once

#include <cstdint>
#include <string>

// Opens (creates) the file for appending without ever waiting; a FIFO or a
// socket is refused. False with the words why.
bool LogFileOpen(const std::string& path, std::string* why);

enum class LogFileWritten {
    Ok,
    Failed,        // this line is lost; an earlier one was lost already
    FirstFailure,  // the first line the file did not take: time to say so
};
// One line; trailing line breaks of the text are replaced by one "\n".
// Without an open file every line is Ok.
LogFileWritten LogFileWrite(const std::string& port, const std::string& text);

// Lines lost so far (0: the file is whole).
uint64_t LogFileLostLines();
// The words at the first failure: "Can't write to the log file FILE: why; ...".
std::string LogFileFailureText();
// The words at the end, once lines were lost: "The log file FILE is incomplete: ...".
std::string LogFileIncompleteText();

// The single download's LogTap, for the port set by LogFileSetPort: it says
// the first failure in the log at once (a single download carries on).
void LogFileSetPort(const std::string& port);
void LogFileTap(const char* text, int level);
// The single download's closing warning, in the log, when lines were lost.
void LogFileWarnAtEnd();
