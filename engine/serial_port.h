// SPDX-License-Identifier: MIT
// Opening a real serial device (UART, USB adapter, pseudo-terminal, a COM
// port on Windows) for the engine: raw 8N1, no flow control, exclusive.
// Shared by both front ends; port_posix.cpp and port_win32.cpp implement it.
#pragma once

#include "port_line.h"

#include <cstddef>
#include <cstdint>
#include <string>

struct PortOpenError {
    int code = 0;      // errno of the failing step; GetLastError() on Windows
    std::string text;  // what failed, with the system's words
    // EBUSY: the programs found holding the device, "cat (pid 1234)"; empty
    // when the system does not let us see them, and always on Windows.
    std::string holders;
};

// The rates a port can be opened at on this platform, ascending.
const uint32_t* PortBaudRates(size_t* count);
bool PortBaudSupported(uint32_t baud);

// nullptr on failure, with *error filled when given. A device another
// process already has open is refused with EBUSY, even when that process
// took neither the lock nor the exclusive flag.
PortHandle PortOpenDevice(const char* path, uint32_t baud, PortOpenError* error);
void PortCloseDevice(PortHandle port);
// Drops the lock and the exclusive flag but keeps the descriptor open, for a
// front end that must leave while a worker may still be using the port: the
// next program can open it even if this process never gets to close it.
void PortReleaseDevice(PortHandle port);

// POSIX: "COM1".."COM4" name /dev/ttyS0../dev/ttyS3; anything else is a path.
// Windows: "COMn" (n from 1 to 256) becomes "\\.\COMn", the only form that
// reaches COM10 and above; anything else is passed on as it is.
std::string PortDevicePath(const std::string& name);
// The name log lines use: "COM2" for /dev/ttyS1, else the path below /dev/
// ("ttyUSB0", "pts/7"), or the path itself. Windows: "COM7" for "\\.\COM7".
std::string PortShortName(const std::string& nameOrPath);
