// SPDX-License-Identifier: MIT
// The simulator's own checks: if its CRC or date decoding were wrong
// it would blame a correct engine, or pass a broken one.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "codec.h"
#include "time_check.h"

using namespace stbsim;

namespace {
std::uint16_t Crc(const std::string& s)
{
    return Crc16Xmodem(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}
}  // namespace

TEST(SimCodec, Crc16XmodemKnownValues)
{
    struct Case {
        std::string data;
        std::uint16_t crc;
    } cases[] = {
        {"123456789", 0x31C3},  // the published check value
        {"", 0x0000},
        {"A", 0x58E5},
        {std::string(128, '\0'), 0x0000},     // an all-zero block 0 body
        {std::string(1024, '\xFF'), 0xC084},  // a block of pure 0xFF padding
    };
    for (const auto& c : cases)
        EXPECT_EQ(Crc(c.data), c.crc) << "length " << c.data.size();
}

TEST(SimCodec, MjdToDate)
{
    struct Case {
        long mjd;
        int y, m, d;
    } cases[] = {
        {0, 1858, 11, 17},                                                 // the epoch itself
        {40587, 1970, 1, 1},  {60369, 2024, 2, 29},                        // leap day
        {60370, 2024, 3, 1},                                               // the day after it
        {60690, 2025, 1, 15}, {61380, 2026, 12, 6}, {51603, 2000, 2, 29},  // a century leap year
        {65535, 2038, 4, 22},                                              // the last day the 16-bit field holds
    };
    for (const auto& c : cases) {
        const CivilDate d = MjdToDate(c.mjd);
        EXPECT_EQ(d.year, c.y) << "MJD " << c.mjd;
        EXPECT_EQ(d.month, c.m) << "MJD " << c.mjd;
        EXPECT_EQ(d.day, c.d) << "MJD " << c.mjd;
    }
}

TEST(SimCodec, TimePayloadDecodingAndRangeChecks)
{
    struct Case {
        std::vector<std::uint8_t> p;
        bool valid;
        const char* text;
    } cases[] = {
        {{0xEF, 0xC4, 0x12, 0x34, 0x56}, true, "2026-12-06 12:34:56"},
        {{0xEB, 0xD1, 0x23, 0x59, 0x59}, true, "2024-02-29 23:59:59"},
        {{0x9E, 0x8B, 0x00, 0x00, 0x00}, true, "1970-01-01 00:00:00"},
        {{0x9E, 0x8B, 0x00, 0x00, 0x60}, true, "1970-01-01 00:00:60"},  // a leap second
        {{0x9E, 0x8B, 0x0A, 0x00, 0x00}, false, nullptr},               // hour sent in binary, not BCD
        {{0x9E, 0x8B, 0x24, 0x00, 0x00}, false, nullptr},               // hour 24
        {{0x9E, 0x8B, 0x00, 0x60, 0x00}, false, nullptr},               // minute 60
    };
    for (const auto& c : cases) {
        const DecodedTime t = DecodeTimePayload(c.p.data());
        EXPECT_EQ(t.valid, c.valid) << t.text;
        if (c.text) {
            EXPECT_EQ(t.text, c.text);
        }
    }
}

TEST(SimCodec, SecondsApartHandlesTheMjdWrap)
{
    const std::uint8_t noon[] = {0xEF, 0xC4, 0x12, 0x00, 0x00};  // 2026-12-06 12:00:00
    const DecodedTime t = DecodeTimePayload(noon);
    const std::time_t sameNoon = (61380L - 40587L) * 86400L + 12 * 3600L;
    EXPECT_EQ(SecondsApart(t, sameNoon), 0);
    EXPECT_EQ(SecondsApart(t, sameNoon + 90), 90);
    EXPECT_EQ(SecondsApart(t, sameNoon - 86400), 86400);  // a day early is caught
    // After 2038-04-22 the field carries MJD modulo 65536; the clock agrees.
    const std::uint8_t wrapped[] = {0x00, 0x01, 0x00, 0x00, 0x00};
    const std::time_t mjd65537 = (65537L - 40587L) * 86400L;
    EXPECT_EQ(SecondsApart(DecodeTimePayload(wrapped), mjd65537), 0);
}
