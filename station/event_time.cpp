// SPDX-License-Identifier: MIT
#include "event_time.h"

#include "local_time.h"

#include <chrono>
#include <cstdio>
#include <ctime>

std::string IsoTimeNow()
{
    auto now = std::chrono::system_clock::now();
    time_t secs = std::chrono::system_clock::to_time_t(now);
    int ms = int(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    tm local = LocalTime(secs);
    char date[40];
    strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    char out[64];
    snprintf(out, sizeof out, "%s.%03d%s", date, ms, UtcOffset(secs).c_str());
    return out;
}
