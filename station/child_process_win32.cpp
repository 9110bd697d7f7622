// SPDX-License-Identifier: MIT
// Windows: the production line's children are not there yet. A child would
// be started with CreateProcess and its stdout on a pipe, and stopped with
// CTRL_BREAK_EVENT in a process group of its own, once the single download
// takes that event as the operator's Abort. Until then several ports (and
// --loop) end at once with a clear message; a single port works as before.
#include "child_process.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

std::atomic<bool> g_stop{false};

void OnStopSignal(int)
{
    g_stop = true;
}

}  // namespace

std::string SelfExecutable()
{
    return "marbrix-cli.exe";
}

bool ChildSpawn(const std::vector<std::string>&, const std::vector<std::string>&, ChildHandle*, std::string* why)
{
    *why = "several ports at once and --loop are not available in the Windows build yet";
    return false;
}

void ChildAskToStop(const ChildHandle&) {}

void ChildKill(const ChildHandle&) {}

int ChildPoll(ChildHandle*)
{
    return -1;
}

long ChildRead(ChildHandle*, char*, size_t)
{
    return 0;
}

void ChildrenWait(const std::vector<ChildHandle*>&, int) {}

bool StopSignalsInstall()
{
    signal(SIGINT, OnStopSignal);
    signal(SIGTERM, OnStopSignal);
    return true;
}

bool StopRequested()
{
    return g_stop.load();
}
