// SPDX-License-Identifier: MIT
#include "wait_port.h"

#include <chrono>
#include <sys/stat.h>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

bool PortPathPresent(const std::string& path)
{
#ifdef _WIN32
    // "\\.\COM7": the port is there when its DOS device name is defined.
    std::string name = path.compare(0, 4, "\\\\.\\") == 0 ? path.substr(4) : path;
    char target[512];
    return QueryDosDeviceA(name.c_str(), target, sizeof target) != 0;
#else
    struct stat st{};
    return stat(path.c_str(), &st) == 0;
#endif
}

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
