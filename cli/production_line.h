// SPDX-License-Identifier: MIT
// Several ports in one command, and station mode (--loop): the station
// controller (station_controller.h, one child process of this program per
// port) drawn on the terminal: live lines or prefixed log lines, a result
// line per box and a summary table on standard error; with --json the
// children's events, passed on, on standard output.
#pragma once

#include "options.h"

// 0 when every port (every box) succeeded, EXIT_SOME_FAILED otherwise.
int RunProductionLine(const DownloadOptions& options);
