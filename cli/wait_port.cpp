// SPDX-License-Identifier: MIT
#include "wait_port.h"

#include <chrono>
#include <thread>

bool WaitForPortPath(const std::string& path, double seconds, bool (*stopRequested)())
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(int64_t(seconds * 1000));
    for (;;) {
        if (PortPathPresent(path))
            return true;
        if (stopRequested && stopRequested())
            return false;
        if (seconds > 0 && Clock::now() >= until)
            return false;
        // Device nodes appear through udev; a tenth of a second is well
        // below anyone's patience and costs nothing.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}
