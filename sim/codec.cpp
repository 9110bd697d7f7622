// SPDX-License-Identifier: MIT
#include "codec.h"

namespace stbsim {

std::uint16_t Crc16Xmodem(const std::uint8_t* data, std::size_t len)
{
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < len; ++i) {
        crc ^= static_cast<std::uint16_t>(data[i]) << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021)
                                 : static_cast<std::uint16_t>(crc << 1);
    }
    return crc;
}

CivilDate MjdToDate(long mjd)
{
    // Count days from 0000-03-01 in the proleptic Gregorian calendar, so that
    // the leap day falls at the end of each counted year. MJD 0 is 1858-11-17,
    // which lies 678881 days after 0000-03-01.
    long days = mjd + 678881;
    const long era = (days >= 0 ? days : days - 146096) / 146097;
    const long doe = days - era * 146097;                                    // 0..146096
    const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // 0..399
    const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);                // 0..365
    const long mp = (5 * doy + 2) / 153;                                     // 0..11, March first
    CivilDate d;
    d.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    d.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    d.year = static_cast<int>(yoe + era * 400 + (d.month <= 2 ? 1 : 0));
    return d;
}

int BcdToInt(std::uint8_t b)
{
    const int hi = b >> 4, lo = b & 0x0F;
    if (hi > 9 || lo > 9)
        return -1;
    return hi * 10 + lo;
}

bool ParseDecimal(const std::string& s, long long& value)
{
    value = 0;
    std::size_t i = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
        if (value > 1000000000000LL)
            return false;
        value = value * 10 + (s[i] - '0');
        ++i;
    }
    return i > 0;
}

}  // namespace stbsim
