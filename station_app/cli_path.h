// SPDX-License-Identifier: MIT
#pragma once

#include <string>

// The marbrix-cli the station runs a download with: the one installed
// beside this program, else the one built with it.
std::string CliExecutable();
