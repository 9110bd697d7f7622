// SPDX-License-Identifier: MIT
#include "single_port.h"

#include "engine.h"
#include "exit_codes.h"
#include "json_events.h"
#include "log_file.h"
#include "log_output.h"
#include "production_line.h"
#include "run.h"
#include "stdout_end.h"
#include "stdout_writer.h"
#include "stop_events.h"
#include "usb_identity.h"

#include <cstdio>
#include <cstdlib>

int RunDownloads(const DownloadOptions& options)
{
    if (options.ports.size() > 1 || options.loop)
        return RunProductionLine(options);
    return RunSinglePort(options);
}

int RunSinglePort(const DownloadOptions& options)
{
    const char* child = getenv(kChildEnv);
    if (child && *child)
        LogSetQuiet(true);
    const char* box = getenv(kBoxEnv);
    // Before the first event: from here on nothing waits for stdout's reader.
    StdoutWriterStart();
    if (options.json) {
        JsonEventsEnable(options.port, box ? atoi(box) : 0, DownloadIsImage(options));
        LogAddTap(JsonLogTap);
    }
    if (!options.logFile.empty()) {
        std::string why;
        if (!LogFileOpen(options.logFile, &why)) {
            LogPrintf(LOG_ERROR, "Can't open the log file %s: %s\n", options.logFile.c_str(), why.c_str());
            EndPortOutput(EXIT_FILE, kStdoutGraceMs, false);
            return EXIT_FILE;
        }
        LogFileSetPort(options.port);
        LogAddTap(LogFileTap);
    }
    // A usb: identity picks its adapter now; events and the log file keep
    // naming the port as given.
    DownloadOptions resolved = options;
    std::string why;
    if (!ResolveUsbPort(options.port, &resolved.port, &why)) {
        fprintf(stderr, "marbrix-cli: %s\n", why.c_str());
        JsonLogTap(why.c_str(), LOG_ERROR);
        EndPortOutput(EXIT_USAGE, kStdoutGraceMs, false);
        return EXIT_USAGE;
    }
    OutputEnd end{};
    const int rc = RunDownload(resolved, &end);
    LogFileWarnAtEnd();
    EndPortOutput(rc, end.graceMs, end.stopped);
    // Only now is the download wound up for a console window being closed.
    StopFinished();
    return rc;
}
