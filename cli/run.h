// SPDX-License-Identifier: MIT
// One download with the engine, from opening the port to closing it.
#pragma once

#include "options.h"

// How the end of standard output is to be handled (stdout_end.h): its grace,
// and whether the download was stopped.
struct OutputEnd {
    int graceMs;
    bool stopped;
};

// Returns the program's exit code (see exit_codes.h). Standard output's end
// (the result event, the writer's last lines) is the caller's.
int RunDownload(const DownloadOptions& options, OutputEnd* outputEnd);
