// SPDX-License-Identifier: MIT
#include "system_text.h"

#include <windows.h>

std::string SystemText(unsigned long code)
{
    char buf[256];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, DWORD(code), 0, buf,
                             sizeof buf, nullptr);
    // The system ends its messages with ".\r\n", and some with a blank.
    while (n > 0 && (buf[n - 1] == '\r' || buf[n - 1] == '\n' || buf[n - 1] == ' '))
        --n;
    if (n == 0)
        return "error " + std::to_string(code);
    return std::string(buf, n);
}
