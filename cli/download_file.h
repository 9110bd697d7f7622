// SPDX-License-Identifier: MIT
// Opening the download file for the engine, one file per platform
// (download_file_posix.cpp, download_file_win32.cpp).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Opens the file for binary reading, or returns nullptr with the words why.
// *size is its length; *regular false for a device (its length means nothing).
FILE* OpenDownloadFile(const std::string& name, uint64_t* size, bool* regular, std::string* why);
