// SPDX-License-Identifier: MIT
// --wait-port and station mode: a port that is not there yet (an adapter
// still to be plugged in, a box that re-enumerates, a /dev/serial/by-id link
// that comes and goes).
#pragma once

#include <string>

// True when the path names something that can be opened as a port now
// (a dangling link does not count). On Windows the port is opened to see:
// any failure but "held by another program" counts as not there yet. One
// file per platform (wait_port_posix.cpp, wait_port_win32.cpp).
bool PortPathPresent(const std::string& path);
// Polls for the path until it is present (true), the time is up or
// stopRequested() says so (false). seconds <= 0: no limit.
bool WaitForPortPath(const std::string& path, double seconds, bool (*stopRequested)());
