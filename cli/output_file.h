// SPDX-License-Identifier: MIT
// What pack needs from the platform to put its output in place whole: a temp
// file beside the target, synced, then renamed over it. One file per platform
// (output_file_posix.cpp, output_file_win32.cpp).
#pragma once

// The characters that end a folder's name in a path ("/", and "\" on Windows).
extern const char kPathSeparators[];
// Gives a file made by mkstemp (0600) the permissions a plain create would.
void OutputFileUsualMode(int fd);
// 0 once the file's bytes are on the disk; -1 with errno otherwise.
int OutputFileSync(int fd);
// Renames `from` over `to`, replacing it; -1 with errno when it cannot.
int OutputFileReplace(const char* from, const char* to);
