// SPDX-License-Identifier: MIT
#include "wait_port.h"

#include <windows.h>

bool PortPathPresent(const std::string& path)
{
    // "\\.\COM7": the port is there when its DOS device name is defined.
    std::string name = path.compare(0, 4, "\\\\.\\") == 0 ? path.substr(4) : path;
    char target[512];
    return QueryDosDeviceA(name.c_str(), target, sizeof target) != 0;
}
