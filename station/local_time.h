// SPDX-License-Identifier: MIT
// The local calendar time and its offset from UTC as the CLI writes them.
#pragma once

#include "calendar_time.h"

#include <cstdio>
#include <ctime>
#include <string>

// "+01:00": ISO 8601's form of the offset in effect at t; "+00:53:28" when
// the offset has seconds (the local mean time some zones keep for old
// dates, a TZ string that asks for it), which "+00:53" would misstate.
inline std::string UtcOffset(time_t t)
{
    long offset = UtcOffsetSeconds(t);
    char buf[24];
    long a = offset < 0 ? -offset : offset;
    if (a % 60 != 0)
        snprintf(buf, sizeof buf, "%c%02ld:%02ld:%02ld", offset < 0 ? '-' : '+', a / 3600, a / 60 % 60, a % 60);
    else
        snprintf(buf, sizeof buf, "%c%02ld:%02ld", offset < 0 ? '-' : '+', a / 3600, a / 60 % 60);
    return buf;
}

// "14:03:59": the local time of day that stamps the station's log lines, in
// the terminal and in the window alike.
inline std::string LocalClockText(time_t t)
{
    tm local = LocalTime(t);
    char buf[16];
    strftime(buf, sizeof buf, "%H:%M:%S", &local);
    return buf;
}
