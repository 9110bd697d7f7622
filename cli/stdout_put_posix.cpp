// SPDX-License-Identifier: MIT
#include "stdout_put.h"

#include "write_all_posix.h"

#include <unistd.h>

bool StdoutPut(const char* data, size_t size)
{
    return WriteAll(STDOUT_FILENO, data, size, -1) == WriteAllEnd::Done;
}
