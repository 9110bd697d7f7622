// SPDX-License-Identifier: MIT
// The one write of the stdout writer's thread, per platform
// (stdout_put_posix.cpp, stdout_put_win32.cpp).
#pragma once

#include <cstddef>

// Writes all of [data, data + size) to standard output, waiting as long as
// it takes; false once standard output is gone (a closed pipe, an error).
bool StdoutPut(const char* data, size_t size);
