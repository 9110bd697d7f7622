// SPDX-License-Identifier: MIT
// Decoding the engine's time reply: a 16-bit MJD and the time in packed BCD.
#pragma once
#include <cstdint>
#include <ctime>
#include <string>

namespace stbsim {

struct DecodedTime {
    bool valid = false;
    std::string why;  // when not valid
    long mjd = 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    std::string text;  // "YYYY-MM-DD hh:mm:ss"
};

// The five payload bytes: MJD high, MJD low, hour, minute, second.
DecodedTime DecodeTimePayload(const std::uint8_t* p);

// Seconds between the reply and a calendar time, with the MJD field's
// 65536-day wrap taken into account.
long long SecondsApart(const DecodedTime& t, std::time_t now);

}  // namespace stbsim
