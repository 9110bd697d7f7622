// SPDX-License-Identifier: MIT
// The production line's standard error: on a terminal, one live line per
// port kept under the scrolling log; in a pipe, the log lines alone.
#pragma once

#include <string>
#include <vector>

void LiveLinesInit();
bool LiveLinesOnTerminal();
// One finished line (without its line break), above the live block.
void LivePrint(const std::string& line);
// Replaces the live block (terminal only).
void LiveUpdate(const std::vector<std::string>& lines);
// Takes the block off the screen for good (before the summary).
void LiveClear();
