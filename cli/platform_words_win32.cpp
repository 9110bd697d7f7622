// SPDX-License-Identifier: MIT
#include "platform_words.h"

const char kPortWantedText[] = "--port wants a COM port (COM1..COM256)";

const char kUsageStopAndPortText[] =
    "on request until the download is stopped (Ctrl-C, Ctrl-Break, closing the\n"
    "console window, or --timeout).\n"
    "\n"
    "Options:\n"
    "  -p, --port PORT      COM port, COM1..COM256 (see --list-ports); default COM2\n";

const std::string& PortNameShown(const std::string&, const std::string& shortName)
{
    return shortName;
}
