// SPDX-License-Identifier: MIT
#include "calendar_time.h"

tm LocalTime(time_t t)
{
    tm local{};
    localtime_s(&local, &t);
    return local;
}

bool UtcTime(time_t t, tm* utc)
{
    return gmtime_s(utc, &t) == 0;
}

long UtcOffsetSeconds(time_t t)
{
    // Windows' tm has no offset field and its %z gives the zone's name:
    // count the offset as the distance between t and its UTC fields read
    // back as local time.
    tm utc{};
    gmtime_s(&utc, &t);
    utc.tm_isdst = -1;
    return long(difftime(t, mktime(&utc)));
}
