// SPDX-License-Identifier: MIT
// The machine's serial ports beyond COM1..COM4, as the command line lists
// them: device paths, in listing order.
#pragma once

#include <string>
#include <vector>

std::vector<std::string> ConsoleExtraPortPaths();
