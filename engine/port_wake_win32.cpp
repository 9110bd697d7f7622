// SPDX-License-Identifier: MIT
// The Windows port sleeps one tick per SleepTicks call (the default), so
// every wait already looks at the stop flag each tick: nothing to wake.
#include "port_line.h"

void PortWakeWaits() {}
