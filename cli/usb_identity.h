// SPDX-License-Identifier: MIT
// --port usb:VID:PID[:SERIAL]: the USB serial adapter with that identity,
// found through the port listing.
#pragma once

#include "port_list.h"

#include <string>
#include <vector>

bool IsUsbIdentity(const std::string& port);
// The device path for a port as given: COM names and paths as always, a usb:
// identity through the listing. False with a message for the operator when
// none or several adapters match (the candidates listed).
bool ResolveUsbPort(const std::string& port, std::string* path, std::string* why);
// The device path, or empty for a usb: identity no adapter matches now.
std::string ResolvePortPath(const std::string& port);
// The ports as --list-ports and ResolveUsbPort see them. MARBRIX_PORT_LISTING
// names a file that replaces the system's listing, one port a line:
// "PATH<TAB>usb:VID:PID[:SERIAL]" (tests, and hosts whose adapters the
// listing cannot see).
std::vector<PortInfo> CurrentPortListing();
