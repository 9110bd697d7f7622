// SPDX-License-Identifier: MIT
#include "stop_signal.h"

#include <csignal>

namespace {

volatile sig_atomic_t g_stop = 0;

void OnStopSignal(int)
{
    g_stop = 1;
}

}  // namespace

void WatchStopSignal()
{
    struct sigaction sa = {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
}

bool StopSignalled()
{
    return g_stop != 0;
}
