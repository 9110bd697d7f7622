// SPDX-License-Identifier: MIT
// 64-bit positions in the download file on every platform: a long is 32 bits
// on Windows, and images and served files may pass 2 GiB. fseeko/ftello on
// POSIX, _fseeki64/_ftelli64 on Windows (file_position_*.cpp).
#pragma once

#include <cstdint>
#include <cstdio>

// fseek's whence and result.
int FileSeek(FILE* f, int64_t offset, int whence);
// -1 on failure.
int64_t FileTell(FILE* f);
