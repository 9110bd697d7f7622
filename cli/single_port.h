// SPDX-License-Identifier: MIT
// One port, in this process: the download of run.h with what goes around it
// (--json events, --log, the usb: identity), also as a child of the
// production line.
#pragma once

#include "child_command.h"  // the environment it reads as a station's child
#include "options.h"

// Several ports or --loop: the production line; otherwise one download.
int RunDownloads(const DownloadOptions& options);
int RunSinglePort(const DownloadOptions& options);
