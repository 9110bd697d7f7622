// SPDX-License-Identifier: MIT
#include "calendar_time.h"

tm LocalTime(time_t t)
{
    tm local{};
    localtime_r(&t, &local);
    return local;
}

bool UtcTime(time_t t, tm* utc)
{
    return gmtime_r(&t, utc) != nullptr;
}

long UtcOffsetSeconds(time_t t)
{
    return LocalTime(t).tm_gmtoff;
}
