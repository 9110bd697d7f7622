// SPDX-License-Identifier: MIT
#include "exit_codes.h"

const char* ExitReason(int exitCode, bool image)
{
    switch (exitCode) {
    case EXIT_SENT:
        return image ? "sent" : "stopped";
    case EXIT_USAGE:
        return "usage error";
    case EXIT_REJECTED:
        return "rejected";
    case EXIT_PORT:
        return "port failed or lost";
    case EXIT_FILE:
        return "file unreadable";
    case EXIT_INCOMPLETE:
        return "incomplete";
    default:
        return "ended abnormally";
    }
}
