// SPDX-License-Identifier: MIT
// The time reply: current UTC as MJD and BCD, converted with the DVB
// formula in double precision. 30.6001 (not 30.6) keeps the truncation of
// the month term on the right day.
#include "time_reply.h"

#include "calendar_time.h"
#include "session.h"

time_t (*g_pfnEngineClock)(time_t*) = time;

static uint8_t Bcd(int value)
{
    return static_cast<uint8_t>((value / 10) * 16 + value % 10);
}

int BuildTimeReply(const struct tm* utc, uint8_t payload[TIME_REPLY_BYTES])
{
    const int y = utc->tm_year;
    const int m = utc->tm_mon + 1;
    const int d = utc->tm_mday;
    const int l = (m == 1 || m == 2) ? 1 : 0;
    const int a = static_cast<int>((m + 1 + 12 * l) * 30.6001);
    const int b = static_cast<int>((y - l) * 365.25);
    const long mjd = static_cast<long>((double(a) + double(b)) + double(d) + 14956.0);
    payload[0] = static_cast<uint8_t>((mjd >> 8) & 0xFF);
    payload[1] = static_cast<uint8_t>(mjd & 0xFF);
    payload[2] = Bcd(utc->tm_hour);
    payload[3] = Bcd(utc->tm_min);
    payload[4] = Bcd(utc->tm_sec);
    return 0;
}

int SendTimeReply()
{
    time_t now = g_pfnEngineClock(nullptr);
    struct tm utc;
    if (now == time_t(-1) || !UtcTime(now, &utc))
        return 1;
    uint8_t payload[TIME_REPLY_BYTES];
    BuildTimeReply(&utc, payload);
    SendFrame(STB_TIME_REQ, payload, TIME_REPLY_BYTES);
    return 0;
}
