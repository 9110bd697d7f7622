// SPDX-License-Identifier: MIT
// Command line of marbrix-cli: the download itself, --list-ports, and the
// inspect / pack helpers for image files.
#pragma once

#include "port_rates.h"

#include <cstdint>
#include <string>
#include <vector>

enum class CliCommand { Download, ListPorts, Inspect, Pack, Help, Version };
enum class ModeChoice { ByExtension, Image, Served };

struct DownloadOptions {
    std::string port = "COM2";
    uint32_t baud = kPortDefaultRate;
    ModeChoice mode = ModeChoice::ByExtension;
    double timeoutSec = 0;  // 0: no time limit
    std::string file;
    // Every port as given (-p repeated or a comma list); `port` is the first.
    // More than one runs the production line (production_line.h).
    std::vector<std::string> ports;
    bool loop = false;       // station mode: box after box on every port
    bool json = false;       // events for machines on stdout (json_events.h)
    std::string logFile;     // --log: every log line appended here too
    double waitPortSec = 0;  // --wait-port: how long a missing port may take to appear
};

struct PackOptions {
    uint8_t major = 0;
    uint8_t minor = 0;
    uint8_t serviceWord[4] = {0, 0, 0, 0};  // in file order
    uint8_t maskKey = 0;
    std::string payload;
    std::string out;
};

struct CliOptions {
    CliCommand command = CliCommand::Download;
    DownloadOptions download;
    PackOptions pack;
    std::string inspectFile;
};

struct ParseResult {
    bool ok = false;
    std::string error;  // for the usage message when !ok
    CliOptions options;
};

ParseResult ParseCommandLine(const std::vector<std::string>& args);

// --image, --served, or else the file's name (IsImageFileName, image_file.h).
bool DownloadIsImage(const DownloadOptions& options);

std::string UsageText(const char* program);
