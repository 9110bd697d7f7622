// SPDX-License-Identifier: MIT
#include "stdout_put.h"

#include <windows.h>

// Straight to the handle: the C runtime's stream would lock against the
// log's writes to stderr on some runtimes, and nothing here is text.
bool StdoutPut(const char* data, size_t size)
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE)
        return false;
    while (size > 0) {
        DWORD n = 0;
        if (!WriteFile(out, data, DWORD(size), &n, nullptr))
            return false;
        data += n;
        size -= n;
    }
    return true;
}
