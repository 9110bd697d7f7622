// SPDX-License-Identifier: MIT
#include "transfer_rate.h"

bool TransferRate::Block(int percent)
{
    const bool again = percent < lastPercent || blocks == 0;
    if (again) {
        blocks = 0;
        firstBlock = Clock::now();
    }
    ++blocks;
    const bool moved = again || percent != lastPercent;
    lastPercent = percent;
    return moved;
}

void TransferRate::Reset()
{
    blocks = 0;
    lastPercent = 0;
}

TransferRate::Figures TransferRate::Now(uint64_t size) const
{
    Figures f{};
    f.bytes = blocks * 1024;
    if (size && f.bytes > size)
        f.bytes = size;
    // The first blocks go out before the clock can say much.
    const double elapsed = std::chrono::duration<double>(Clock::now() - firstBlock).count();
    f.rate = elapsed > 0.05 ? double(f.bytes) / elapsed : 0;
    f.secondsLeft = f.rate > 0 && size ? double(size - f.bytes) / f.rate : -1;
    return f;
}
