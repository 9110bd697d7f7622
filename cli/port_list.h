// The serial ports of this machine, as both front ends offer them.
#pragma once

#include <string>
#include <vector>

struct PortInfo {
    std::string path;         // "/dev/ttyUSB0"
    std::string shortName;    // "ttyUSB0", "COM2" for /dev/ttyS1
    std::string description;  // USB maker/product/serial where there is one, else the driver's words
    std::string usbIdentity;  // "usb:0403:6001:A10K3B" (serial where known) for USB adapters, else empty
};

// Sorted by path. Pseudo-terminals are not serial ports and are not listed.
std::vector<PortInfo> ListSerialPorts();
