// SPDX-License-Identifier: MIT
// The time reply: MJD and BCD time of day, always in UTC.
#include "engine_fixture.h"
#include "test_platform.h"

#include <cstdlib>
#include <string>

using namespace etest;

namespace {

time_t g_fixedNow = 0;

time_t FixedClock(time_t* t)
{
    if (t)
        *t = g_fixedNow;
    return g_fixedNow;
}

struct tm Utc(int y, int mo, int d, int h, int mi, int s)
{
    struct tm t {};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    return t;
}

struct TimeCase {
    const char* name;
    struct tm utc;
    time_t epoch;  // the same instant as a calendar time
    Bytes payload;
};

const TimeCase kCases[] = {
    {"2026-12-06 12:34:56", Utc(2026, 12, 6, 12, 34, 56), 1796560496, {0xEF, 0xC4, 0x12, 0x34, 0x56}},
    {"2025-01-15 midnight", Utc(2025, 1, 15, 0, 0, 0), 1736899200, {0xED, 0x12, 0x00, 0x00, 0x00}},
    {"2024-02-29 23:59:59", Utc(2024, 2, 29, 23, 59, 59), 1709251199, {0xEB, 0xD1, 0x23, 0x59, 0x59}},
    {"1970-01-01 midnight", Utc(1970, 1, 1, 0, 0, 0), 0, {0x9E, 0x8B, 0x00, 0x00, 0x00}},
    {"2024-03-01 begins L = 0", Utc(2024, 3, 1, 0, 0, 0), 1709251200, {0xEB, 0xD2, 0x00, 0x00, 0x00}},
    {"2038-04-22, MJD 65535", Utc(2038, 4, 22, 7, 8, 9), 2155532889, {0xFF, 0xFF, 0x07, 0x08, 0x09}},
    {"2038-04-23 wraps to 0", Utc(2038, 4, 23, 0, 0, 0), 2155593600, {0x00, 0x00, 0x00, 0x00, 0x00}},
    {"2040-01-01, MJD 66154 mod 65536", Utc(2040, 1, 1, 10, 20, 30), 2209026030, {0x02, 0x6A, 0x10, 0x20, 0x30}},
};

class TimeReply : public EngineFixture {};

TEST_F(TimeReply, PayloadFromABrokenDownTime)
{
    for (const TimeCase& c : kCases) {
        SCOPED_TRACE(c.name);
        uint8_t p[5] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
        EXPECT_EQ(BuildTimeReply(&c.utc, p), 0);
        EXPECT_EQ(Bytes(p, p + 5), c.payload) << Hex(Bytes(p, p + 5));
    }
}

TEST_F(TimeReply, LeapSecondIsSentAs60)
{
    const struct tm t = Utc(2016, 12, 31, 23, 59, 60);
    uint8_t p[5] = {};
    BuildTimeReply(&t, p);
    EXPECT_EQ(p[2], 0x23);
    EXPECT_EQ(p[3], 0x59);
    EXPECT_EQ(p[4], 0x60);
}

TEST_F(TimeReply, WholeFrameOnTheLineFromTheEngineClock)
{
    g_pfnEngineClock = FixedClock;
    for (const TimeCase& c : kCases) {
        SCOPED_TRACE(c.name);
        if (sizeof(time_t) < 8 && c.epoch > 0x7FFFFFFF)
            continue;
        line.ClearWritten();
        g_fixedNow = c.epoch;
        EXPECT_EQ(SendTimeReply(), 0);
        Bytes want = {0x02, 0x03};
        want.insert(want.end(), c.payload.begin(), c.payload.end());
        want.push_back(0x03);
        EXPECT_EQ(Written(), want) << Hex(Written());
    }
    EXPECT_TRUE(LogLines().empty());
}

TEST_F(TimeReply, LocalTimeZoneHasNoEffect)
{
    // Far east and far west of UTC, so that the local date differs too.
    const char* saved = getenv("TZ");
    const std::string keep = saved ? saved : "";
    g_pfnEngineClock = FixedClock;
    g_fixedNow = 1709249400;  // 2024-02-29 23:30:00 UTC
    for (const char* tz : {"XST-14", "YST12", "UTC0"}) {
        SCOPED_TRACE(tz);
        etest::SetEnvVar("TZ", tz);
        tzset();
        line.ClearWritten();
        EXPECT_EQ(SendTimeReply(), 0);
        EXPECT_EQ(Written(), (Bytes{0x02, 0x03, 0xEB, 0xD1, 0x23, 0x30, 0x00, 0x03})) << Hex(Written());
    }
    if (saved)
        etest::SetEnvVar("TZ", keep.c_str());
    else
        etest::UnsetEnvVar("TZ");
    tzset();
}

TEST_F(TimeReply, TimeThatCannotBeBrokenDownSendsNothing)
{
    if (sizeof(time_t) < 8)
        GTEST_SKIP() << "32-bit time_t";
    g_pfnEngineClock = FixedClock;
    g_fixedNow = time_t(0x7FFFFFFFFFFFFFFFll);  // far beyond any year gmtime can hold
    EXPECT_EQ(SendTimeReply(), 1);
    EXPECT_TRUE(Written().empty());
    EXPECT_TRUE(LogLines().empty());
}

}  // namespace
