// SPDX-License-Identifier: MIT
// CRC-16/XMODEM written out for the tests, so that what checks the engine's
// blocks does not lean on the engine's own routine.
#pragma once

#include <cstddef>
#include <cstdint>

inline uint16_t XmodemCrc16(const uint8_t* p, size_t n)
{
    uint16_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc ^= uint16_t(p[i] << 8);
        for (int k = 0; k < 8; ++k)
            crc = (crc & 0x8000) ? uint16_t((crc << 1) ^ 0x1021) : uint16_t(crc << 1);
    }
    return crc;
}
