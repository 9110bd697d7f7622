// SPDX-License-Identifier: MIT
// A whole buffer to a descriptor that may be non-blocking (standard output
// shared with others, the --log file's device), through EINTR and short
// writes: the one loop for both.
#pragma once

#include <cstddef>

enum class WriteAllEnd {
    Done,
    Stalled,      // took nothing for the whole stall time
    TookNothing,  // write() returned 0
    Failed,       // errno says why
};

// stallMs < 0: a descriptor with no room is waited for as long as it takes.
// Otherwise a wait of stallMs that brings no room ends the write.
WriteAllEnd WriteAll(int fd, const char* data, size_t size, int stallMs);
