// SPDX-License-Identifier: MIT
#include "port_name_key.h"

#include "serial_port.h"

#include <climits>
#include <cstdlib>

std::string PortNameKey(const std::string& name)
{
    const std::string path = PortDevicePath(name);
    // realpath only looks the path up: it opens no device.
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}
