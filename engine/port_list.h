// SPDX-License-Identifier: MIT
// The serial ports of this machine, as both front ends offer them.
// port_list_posix.cpp (libserialport) and port_list_win32.cpp implement it.
#pragma once

#include <string>
#include <vector>

struct PortInfo {
    std::string path;         // "/dev/ttyUSB0"; "COM7" on Windows
    std::string shortName;    // "ttyUSB0", "COM2" for /dev/ttyS1; "COM7" on Windows
    std::string description;  // USB maker/product/serial where there is one, else the driver's words;
                              // on Windows Device Manager's name, "USB Serial Port (COM7)"
    std::string usbIdentity;  // "usb:0403:6001:A10K3B" (serial where known) for USB adapters, else empty;
                              // on Windows from the device's ids (usb_device_id.h)
};

// Sorted by path (on Windows by port number). Pseudo-terminals are not
// serial ports and are not listed.
std::vector<PortInfo> ListSerialPorts();
