// SPDX-License-Identifier: MIT
// When two names the operator gives are one port: two downloads on one line
// would fight over it. One file per platform (port_name_key_posix.cpp,
// port_name_key_win32.cpp).
#pragma once

#include <string>

// Equal for two names of the same port, different otherwise.
// POSIX: the device path (COM1..COM4 as /dev/ttyS0..3) with its symlinks
// resolved where it exists, so /dev/serial/by-id/... and the /dev/ttyUSB0 it
// leads to are one port; as given where it does not exist.
// Windows: the device name without the "\\.\" prefix, in capitals, since
// the system's names ignore case ("com7", "COM7" and "\\.\COM7").
std::string PortNameKey(const std::string& name);
