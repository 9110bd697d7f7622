// SPDX-License-Identifier: MIT
// How the station starts a port's download: marbrix-cli itself, one port,
// --json, and two environment variables the child reads (single_port.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Set in the environment of the station's children: their human log lines
// stay off standard error (the station shows them from the events), and the
// box number goes into every event.
constexpr const char kChildEnv[] = "MARBRIX_LINE_CHILD";
constexpr const char kBoxEnv[] = "MARBRIX_LINE_BOX";

struct ChildJob {
    std::string executable;  // marbrix-cli
    std::string file;        // the download file
    uint32_t baud = 0;
    bool image = true;
    bool loop = false;       // station mode
    double timeoutSec = 0;   // 0: none
    double waitPortSec = 0;  // 0: none
};

// The child's argv and the environment it gets on top of the parent's.
// box: station mode's box number (0 outside it).
void ChildCommand(const ChildJob& job, const std::string& port, int box, std::vector<std::string>* argv,
                  std::vector<std::string>* env);
