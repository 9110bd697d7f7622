// SPDX-License-Identifier: MIT
// The platform's part of --log: opening the file without ever waiting, and
// one whole line out. log_file.cpp keeps the rest (the lines, the count of
// what was lost, the words for the operator).
#pragma once

#include <string>

// A descriptor open for appending, or -1 with the words why. A FIFO or a
// socket is refused: its reader may never come, and the run would wait.
int LogDeviceOpen(const std::string& path, std::string* why);
// Writes all of `bytes`; false with the system's words when it cannot (a
// full disk, an I/O error, a device that takes nothing for a second).
bool LogDeviceWrite(int fd, const std::string& bytes, std::string* why);
