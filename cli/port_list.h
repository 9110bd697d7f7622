// SPDX-License-Identifier: MIT
// The serial ports of this machine, as both front ends offer them.
#pragma once

#include <string>
#include <vector>

struct PortInfo {
    std::string path;         // "/dev/ttyUSB0"
    std::string shortName;    // "ttyUSB0", "COM2" for /dev/ttyS1
    std::string description;  // USB maker/product/serial where there is one, else the driver's words
};

// Sorted by path. Pseudo-terminals are not serial ports and are not listed.
std::vector<PortInfo> ListSerialPorts();
