// SPDX-License-Identifier: MIT
#include "transfer_rate.h"

bool TransferRate::Acknowledged(int percent, uint64_t acknowledged)
{
    // Within one transfer every block adds to the count.
    if (bytes == 0 || acknowledged <= bytes) {
        lastPercent = 0;
        firstBlock = Clock::now();
    }
    bytes = acknowledged;
    const bool moved = percent != lastPercent;
    lastPercent = percent;
    return moved;
}

void TransferRate::Reset()
{
    bytes = 0;
    lastPercent = 0;
}

TransferRate::Figures TransferRate::Now(uint64_t size) const
{
    Figures f{};
    f.bytes = bytes;
    if (size && f.bytes > size)
        f.bytes = size;
    // The first blocks go out before the clock can say much.
    const double elapsed = std::chrono::duration<double>(Clock::now() - firstBlock).count();
    f.rate = elapsed > 0.05 ? double(f.bytes) / elapsed : 0;
    f.secondsLeft = f.rate > 0 && size ? double(size - f.bytes) / f.rate : -1;
    return f;
}
