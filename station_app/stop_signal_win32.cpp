// SPDX-License-Identifier: MIT
// A window program on Windows is ended through its window (WM_CLOSE), which
// the dialog answers itself; there is no signal to watch.
#include "stop_signal.h"

void WatchStopSignal() {}

bool StopSignalled()
{
    return false;
}
