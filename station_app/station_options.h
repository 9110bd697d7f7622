// SPDX-License-Identifier: MIT
// marbrix-station's command line:
//   marbrix-station [-p PORT]... [--port A,B,...] [-b RATE] [--results FILE]
//                   [--once] [--start] [FILE]
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct StationOptions {
    std::vector<std::string> ports;
    uint32_t baud = 115200;
    std::string results, file;
    bool once = false, start = false, help = false, version = false;
};

// False with a message for the operator when the command line is wrong; a
// --help or --version sets its flag (the message holds the text to print).
bool ReadStationOptions(int argc, char** argv, StationOptions* options, std::string* message);
