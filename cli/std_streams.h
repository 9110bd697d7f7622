// SPDX-License-Identifier: MIT
// Standard output and standard error as the platform hands them over, one
// file per platform (std_streams_posix.cpp, std_streams_win32.cpp).
#pragma once

// Before anything is written: bytes go out as they are, the log reaches its
// reader as it happens, and a reader that goes away ends no download.
void StdStreamsPrepare();

struct StderrKind {
    bool terminal = false;  // a terminal (on Windows: a console)
    bool vt = false;        // it takes escape sequences
};
// Looks at standard error once; on a Windows console it switches on the
// virtual-terminal mode where it can (Windows 10 and later).
StderrKind StderrKindOf();
