// SPDX-License-Identifier: MIT
// A stop from outside the window (SIGTERM from a service manager or a
// script): the station stops every lane and quits without asking. One file
// per platform (stop_signal_posix.cpp, stop_signal_win32.cpp).
#pragma once

void WatchStopSignal();
bool StopSignalled();
