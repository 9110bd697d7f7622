// SPDX-License-Identifier: MIT
// What the command line says differently on Windows and on POSIX: the ports
// it takes and how a served download is stopped. One file per platform
// (platform_words_posix.cpp, platform_words_win32.cpp).
#pragma once

#include <string>

// The answer to a -p without a port in it (or an empty item of a list).
extern const char kPortWantedText[];
// The usage text from the way a served download is stopped to the -p line.
extern const char kUsageStopAndPortText[];
// The port as the operator names it in the log: the device path on POSIX,
// "COM7" (not "\\.\COM7") on Windows.
const std::string& PortNameShown(const std::string& devicePath, const std::string& shortName);
