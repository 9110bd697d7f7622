// SPDX-License-Identifier: MIT
#include "platform_words.h"

const char kPortWantedText[] = "--port wants a device path or COM1..COM4";

const char kUsageStopAndPortText[] = "on request until the download is stopped (Ctrl-C, SIGTERM or --timeout).\n"
                                     "\n"
                                     "Options:\n"
                                     "  -p, --port PORT      device path (/dev/ttyUSB0, /dev/serial/by-id/...) or\n"
                                     "                       COM1..COM4 (= /dev/ttyS0../dev/ttyS3); default COM2\n";

const std::string& PortNameShown(const std::string& devicePath, const std::string&)
{
    return devicePath;
}
