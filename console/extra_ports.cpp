// SPDX-License-Identifier: MIT
#include "extra_ports.h"

#ifdef MARBRIX_HAVE_PORTLIST
#include "port_list.h"
#endif

std::vector<std::string> ConsoleExtraPortPaths()
{
    std::vector<std::string> paths;
#ifdef MARBRIX_HAVE_PORTLIST
    for (const PortInfo& info : ListSerialPorts())
        paths.push_back(info.path);
#endif
    return paths;
}
