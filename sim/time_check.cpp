// SPDX-License-Identifier: MIT
#include "time_check.h"

#include <cstdio>
#include <cstdlib>

#include "codec.h"

namespace stbsim {

DecodedTime DecodeTimePayload(const std::uint8_t* p)
{
    DecodedTime t;
    t.mjd = (static_cast<long>(p[0]) << 8) | p[1];
    const CivilDate d = MjdToDate(t.mjd);
    t.year = d.year;
    t.month = d.month;
    t.day = d.day;
    t.hour = BcdToInt(p[2]);
    t.minute = BcdToInt(p[3]);
    t.second = BcdToInt(p[4]);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02X:%02X:%02X", t.year, t.month, t.day, p[2], p[3], p[4]);
    t.text = buf;
    if (t.hour < 0 || t.minute < 0 || t.second < 0)
        t.why = "a time byte is not packed BCD";
    else if (t.hour > 23 || t.minute > 59 || t.second > 60)
        t.why = "the time is out of range";
    t.valid = t.why.empty();
    return t;
}

long long SecondsApart(const DecodedTime& t, std::time_t now)
{
    constexpr long long kDay = 86400, kWrap = 65536 * kDay;
    const long long nowMjd = (static_cast<long long>(now) / kDay + 40587) % 65536;
    const long long ours = nowMjd * kDay + static_cast<long long>(now) % kDay;
    const long long theirs = t.mjd * kDay + t.hour * 3600LL + t.minute * 60LL + t.second;
    long long diff = std::llabs(ours - theirs) % kWrap;
    if (diff > kWrap / 2)
        diff = kWrap - diff;
    return diff;
}

}  // namespace stbsim
