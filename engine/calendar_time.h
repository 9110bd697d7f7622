// SPDX-License-Identifier: MIT
// Broken-down calendar time, local and UTC, for the engine and both front
// ends: the C library's thread-safe conversions differ by platform
// (localtime_r/gmtime_r, localtime_s/gmtime_s), so they live once, in
// calendar_time_posix.cpp and calendar_time_win32.cpp.
#pragma once

#include <ctime>

// The local calendar time at t; all fields 0 when it cannot be had.
tm LocalTime(time_t t);
// The UTC calendar time at t into *utc; false when it cannot be had.
bool UtcTime(time_t t, tm* utc);
// Seconds east of UTC of the local time in effect at t.
long UtcOffsetSeconds(time_t t);
