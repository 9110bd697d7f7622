// SPDX-License-Identifier: MIT
// One download with the engine, from opening the port to closing it.
#pragma once

#include "options.h"

// Returns the program's exit code (see exit_codes.h).
int RunDownload(const DownloadOptions& options);
