// SPDX-License-Identifier: MIT
// Why a COM port could not be opened, from the system's error code and words.
#include "port_open_failure.h"

#include <windows.h>

bool PortHeldByAnother(const PortOpenError& e)
{
    return e.code == ERROR_ACCESS_DENIED || e.code == ERROR_SHARING_VIOLATION;
}

std::string PortOpenFailureReason(const std::string& path, const PortOpenError& e, const char* missingHint)
{
    const std::string name = PortShortName(path);
    const std::string hint = missingHint ? std::string(" (") + missingHint + ")" : std::string();
    // Windows does not say who holds a port.
    if (PortHeldByAnother(e))
        return name + " is busy: another program holds it open (close that program first): " + e.text;
    switch (e.code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return "No such port: " + name + hint + ": " + e.text;
    default:
        return e.text.empty() ? "cannot open " + path : e.text;
    }
}
