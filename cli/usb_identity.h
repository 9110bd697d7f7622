// SPDX-License-Identifier: MIT
// --port usb:VID:PID[:SERIAL]: the USB serial adapter with that identity,
// found through the port listing.
#pragma once

#include "port_list.h"

#include <string>
#include <vector>

bool IsUsbIdentity(const std::string& port);
// True when both name the same adapter: "usb:403:6001" is "usb:0403:6001",
// the hex ids in either case. The serial number counts as written.
bool SameUsbIdentity(const std::string& a, const std::string& b);
// The device path for a port as given: COM names and paths as always, a usb:
// identity through the listing. False with a message for the operator when
// none or several adapters match (the candidates listed).
// A serial number is looked for as written; when no adapter has it so, in
// either case (Windows shows serial numbers in capitals); and then as the
// chip's serial of an FTDI port, whose Windows identity appends the port's
// letter A..D ("A10K3B" picks "A10K3BA", the form Linux and the chip's own
// tools show, both ways of writing it pasted from somewhere).
bool ResolveUsbPort(const std::string& port, std::string* path, std::string* why);
// The device path, or empty for a usb: identity no adapter matches now.
std::string ResolvePortPath(const std::string& port);
// The ports as --list-ports and ResolveUsbPort see them. MARBRIX_PORT_LISTING
// names a file that replaces the system's listing, one port a line:
// "PATH<TAB>usb:VID:PID[:SERIAL]" (tests, and hosts whose adapters the
// listing cannot see).
std::vector<PortInfo> CurrentPortListing();
