// SPDX-License-Identifier: MIT
// One port, in this process: the download of run.h with what goes around it
// (--json events, --log, the usb: identity), also as a child of the
// production line.
#pragma once

#include "options.h"

// Set in the environment of the production line's children: their human log
// lines stay off standard error (the parent shows them from the events), and
// the box number goes into every event.
constexpr const char kChildEnv[] = "MARBRIX_LINE_CHILD";
constexpr const char kBoxEnv[] = "MARBRIX_LINE_BOX";

// Several ports or --loop: the production line; otherwise one download.
int RunDownloads(const DownloadOptions& options);
int RunSinglePort(const DownloadOptions& options);
