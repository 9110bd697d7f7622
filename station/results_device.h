// SPDX-License-Identifier: MIT
// The platform's part of the results file: open for appending, one line out
// and onto the disk, close; and where the file lives by default.
// results_file.cpp keeps the rest.
#pragma once

#include <cstdint>
#include <string>

// A handle open for appending, or -1 with the words why.
intptr_t ResultsDeviceOpen(const std::string& path, std::string* why);
// Writes all of `bytes` at the end of the file and flushes them to the disk.
bool ResultsDeviceAppend(intptr_t device, const std::string& bytes, std::string* why);
void ResultsDeviceClose(intptr_t device);
// The platform's folder for a user's application data, with "marbrix" (or
// "Marbrix") in it; empty when the environment names none.
std::string ResultsFolder();
