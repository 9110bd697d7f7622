// SPDX-License-Identifier: MIT
// The line rates a port can be opened at, on every platform: the list both
// front ends offer (the console's drop-down list in this order, the CLI's
// --baud) and the one they start at. The backends map a rate to their own
// setting; a driver that cannot run the line at it fails the open.
#pragma once

#include <cstddef>
#include <cstdint>

// Ascending. The eight from 2400 to 115200 are the standard rates of a PC's
// UART; the three above them are what USB adapters add. The console keeps
// the index of each, so a rate is only ever added at the end.
inline constexpr uint32_t kPortRates[] = {2400,  4800,   9600,   14400,  19200, 38400,
                                          57600, 115200, 230400, 460800, 921600};
inline constexpr size_t kPortRateCount = sizeof kPortRates / sizeof kPortRates[0];
// Where both front ends start: the fastest of a PC UART's standard rates.
inline constexpr uint32_t kPortDefaultRate = 115200;

// The rate's place in kPortRates; -1 when it is not one of them.
constexpr int PortRateIndex(uint32_t rate)
{
    for (size_t i = 0; i < kPortRateCount; ++i)
        if (kPortRates[i] == rate)
            return int(i);
    return -1;
}
