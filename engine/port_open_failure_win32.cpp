// SPDX-License-Identifier: MIT
// Why a COM port could not be opened, from the system's error code and words.
#include "port_open_failure.h"

#include <windows.h>

std::string PortOpenFailureReason(const std::string& path, const PortOpenError& e, const char* missingHint)
{
    const std::string name = PortShortName(path);
    const std::string hint = missingHint ? std::string(" (") + missingHint + ")" : std::string();
    switch (e.code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return "No such port: " + name + hint + ": " + e.text;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        // Windows does not say who holds a port.
        return name + " is busy: another program holds it open (close that program first): " + e.text;
    default:
        return e.text.empty() ? "cannot open " + path : e.text;
    }
}
