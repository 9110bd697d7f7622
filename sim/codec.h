// SPDX-License-Identifier: MIT
// Small pure codecs the simulator checks the engine's bytes with. They are
// written here on purpose instead of being shared with the engine, so that a
// fault in the engine's arithmetic shows up as a mismatch and not as agreement.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace stbsim {

// CRC-16/XMODEM: polynomial 0x1021, initial 0, MSB first, no final XOR.
std::uint16_t Crc16Xmodem(const std::uint8_t* data, std::size_t len);

struct CivilDate {
    int year = 0;
    int month = 0;  // 1..12
    int day = 0;    // 1..31
};

// Modified Julian Date (days since 1858-11-17) to a Gregorian date.
CivilDate MjdToDate(long mjd);

// One packed-BCD byte to its value; -1 when a nibble is not a decimal digit.
int BcdToInt(std::uint8_t b);

// Reads a leading unsigned decimal number; false when there is no digit.
bool ParseDecimal(const std::string& s, long long& value);

}  // namespace stbsim
