// SPDX-License-Identifier: MIT
// Why a serial device could not be opened, in the operator's words. Both
// front ends print it under their "Open failed!" line, so a missing device,
// one another program holds and one the user may not open read differently.
#pragma once

#include "serial_port.h"

#include <string>

// One sentence ending in a full stop, without a line break: the device is
// missing, busy (naming the programs that hold it, where they can be seen),
// not permitted (naming the group that owns it) or the system's own words.
// `missingHint`, when given, is put in brackets after a missing device
// ("see --list-ports").
std::string PortOpenFailureReason(const std::string& path, const PortOpenError& error,
                                  const char* missingHint = nullptr);
// True when another program holds the device open: the operator has to
// close it, so it is an error to report, never a port still to come.
bool PortHeldByAnother(const PortOpenError& error);
