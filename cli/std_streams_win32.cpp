// SPDX-License-Identifier: MIT
#include "std_streams.h"

#include <windows.h>
#include <cstdio>
#include <fcntl.h>
#include <io.h>

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

void StdStreamsPrepare()
{
    // Bytes as they are: the box's output and the log's "\r\n" must not
    // gain a carriage return on the way out.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    // The Windows runtime buffers stderr when it is a pipe: the log must
    // reach whoever reads it line by line, as it happens.
    setvbuf(stderr, nullptr, _IONBF, 0);
}

StderrKind StderrKindOf()
{
    // A console, not just any character device (NUL counts as one for _isatty).
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    StderrKind kind;
    kind.terminal = GetConsoleMode(err, &mode) != 0;
    kind.vt = kind.terminal && ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) ||
                                SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING));
    return kind;
}
