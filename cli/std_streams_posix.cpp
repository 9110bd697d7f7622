// SPDX-License-Identifier: MIT
#include "std_streams.h"

#include <csignal>
#include <unistd.h>

void StdStreamsPrepare()
{
    // A closed reader of either stream must not kill a running download.
    signal(SIGPIPE, SIG_IGN);
}

StderrKind StderrKindOf()
{
    StderrKind kind;
    kind.terminal = isatty(STDERR_FILENO) == 1;
    kind.vt = kind.terminal;
    return kind;
}
