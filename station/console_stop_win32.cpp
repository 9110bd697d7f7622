// SPDX-License-Identifier: MIT
#include "console_stop.h"

#include <windows.h>

ConsoleStop ConsoleStopOf(unsigned long controlType)
{
    switch (controlType) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        return ConsoleStop::Keys;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        return ConsoleStop::Closing;
    default:
        return ConsoleStop::None;
    }
}
