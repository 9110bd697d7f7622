// SPDX-License-Identifier: MIT
// marbrix-station's command line:
//   marbrix-station [-p PORT]... [--port A,B,...] [-b RATE] [--results FILE]
//                   [--once] [--start] [FILE]
// The ports and the rate are read by marbrix-cli's own rules and answered in
// its words: an operator who knows one program knows the other.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct StationOptions {
    std::vector<std::string> ports;  // as given, in order; empty: ticked in the window
    uint32_t baud = 115200;
    std::string results, file;  // results empty: DefaultResultsPath()
    bool once = false, start = false, help = false, version = false;
};

// True when the command line is good; then with --help or --version its
// flag is set (and, for --help, `message` holds the usage text). False with
// the message for the operator's terminal, whole lines in marbrix-cli's
// form ("marbrix-station: ...", then where the options are told).
bool ReadStationOptions(int argc, char** argv, StationOptions* options, std::string* message);

std::string StationUsageText();
