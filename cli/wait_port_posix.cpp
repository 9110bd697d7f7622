// SPDX-License-Identifier: MIT
#include "wait_port.h"

#include <sys/stat.h>

bool PortPathPresent(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}
