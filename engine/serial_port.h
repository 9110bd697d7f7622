// Opening a real serial device (UART, USB adapter, pseudo-terminal) for the
// engine: raw 8N1, no flow control, exclusive. Shared by both front ends.
#pragma once

#include "port_line.h"

#include <cstddef>
#include <cstdint>
#include <string>

struct PortOpenError {
    int code = 0;      // errno of the failing step
    std::string text;  // what failed, with the system's words
};

// The rates a port can be opened at on this platform, ascending.
const uint32_t* PortBaudRates(size_t* count);
bool PortBaudSupported(uint32_t baud);

// nullptr on failure, with *error filled when given.
PortHandle PortOpenDevice(const char* path, uint32_t baud, PortOpenError* error);
void PortCloseDevice(PortHandle port);

// "COM1".."COM4" name /dev/ttyS0../dev/ttyS3; anything else is a path.
std::string PortDevicePath(const std::string& name);
// The name log lines use: "COM2" for /dev/ttyS1, else the path below /dev/
// ("ttyUSB0", "pts/7"), or the path itself.
std::string PortShortName(const std::string& nameOrPath);
