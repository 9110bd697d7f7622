// SPDX-License-Identifier: MIT
// Several ports in one command, and station mode (--loop): one child process
// of this program per port (the engine is one per process), read through its
// --json events; live lines or prefixed log lines, a result line per box and
// a summary table on standard error.
#pragma once

#include "options.h"

// 0 when every port (every box) succeeded, EXIT_SOME_FAILED otherwise.
int RunProductionLine(const DownloadOptions& options);
