// SPDX-License-Identifier: MIT
#include "port_name_key.h"

#include "serial_port.h"

#include <cctype>

std::string PortNameKey(const std::string& name)
{
    // PortShortName already makes "COM7" of "\\.\COM7" and "com7"; other
    // device names (a virtual pair's "\\.\CNCA0") only lose the prefix.
    std::string key = PortShortName(name);
    if (key.compare(0, 4, "\\\\.\\") == 0)
        key.erase(0, 4);
    for (char& c : key)
        c = char(toupper(static_cast<unsigned char>(c)));
    return key;
}
