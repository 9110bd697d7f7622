// SPDX-License-Identifier: MIT
// The local calendar time and its offset from UTC, on every platform the CLI builds for.
#pragma once

#include <cstdio>
#include <ctime>
#include <string>

inline tm LocalTime(time_t t)
{
    tm local{};
#ifdef _WIN32
    localtime_s(&local, &t);
#else
    localtime_r(&t, &local);
#endif
    return local;
}

// "+01:00": ISO 8601's form of the offset in effect at t; "+00:53:28" when
// the offset has seconds (the local mean time some zones keep for old
// dates, a TZ string that asks for it), which "+00:53" would misstate.
inline std::string UtcOffset(time_t t)
{
#ifdef _WIN32
    // Windows' %z gives the zone's name; count the offset instead.
    tm utc{};
    gmtime_s(&utc, &t);
    utc.tm_isdst = -1;
    long offset = long(difftime(t, mktime(&utc)));
#else
    tm local = LocalTime(t);
    long offset = local.tm_gmtoff;
#endif
    char buf[24];
    long a = offset < 0 ? -offset : offset;
    if (a % 60 != 0)
        snprintf(buf, sizeof buf, "%c%02ld:%02ld:%02ld", offset < 0 ? '-' : '+', a / 3600, a / 60 % 60, a % 60);
    else
        snprintf(buf, sizeof buf, "%c%02ld:%02ld", offset < 0 ? '-' : '+', a / 3600, a / 60 % 60);
    return buf;
}
