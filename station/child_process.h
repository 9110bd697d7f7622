// SPDX-License-Identifier: MIT
// The production line's child processes (one per port) and the parent's
// stop signals. The backends are child_process_posix.cpp and
// child_process_win32.cpp; what to run is decided in child_command.cpp, and
// when, in station_controller.cpp.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// What a backend keeps of one child. Only child_process_*.cpp read or write
// the fields; the rest of the program passes the handle around.
struct ChildHandle {
    long id = -1;     // the process id; -1: none
    int events = -1;  // POSIX: read end of its standard output (non-blocking)
    // Windows: the process, the read end of its standard output's pipe, and
    // the event that asks it to stop (see kChildStopEventEnv).
    void* process = nullptr;
    void* output = nullptr;
    void* stop = nullptr;
};

// Windows: the environment variable that hands a child the (inherited) handle
// of the event its parent sets to ask it to stop, as a decimal number. A
// console control event reaches only the processes on the parent's console;
// a parent without one (a window, a service, a program under Wine) can still
// set an event. The child takes it as it takes Ctrl-Break.
constexpr const char kChildStopEventEnv[] = "MARBRIX_LINE_STOP_EVENT";

// POSIX: the environment variable that gives a child its parent's process
// id. Linux has no Job object; the child asks the kernel for the operator's
// stop (SIGTERM) when its parent goes, however it goes (SIGKILL included),
// and the id catches a parent that went before the child could ask.
constexpr const char kChildParentEnv[] = "MARBRIX_LINE_PARENT";

// This program's own executable, for starting the children.
std::string SelfExecutable();
// Starts argv[0] with argv, the environment plus `extraEnv` (NAME=VALUE), its
// stdout a pipe to the parent; stderr is shared.
bool ChildSpawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv, ChildHandle* child,
                std::string* why);
// The operator's Abort for this child (POSIX: SIGTERM; Windows: Ctrl-Break to
// its process group and its stop event); it ends within its own bound.
void ChildAskToStop(const ChildHandle& child);
// For a child that ignored the stop far past its bound (SIGKILL,
// TerminateProcess); the port is released as the process ends.
void ChildKill(const ChildHandle& child);
// The exit code once it has ended (128 + signal when killed; on Windows 137
// for one terminated or ended by an exception), -1 while it runs.
// Ended children are reaped and their id cleared.
int ChildPoll(ChildHandle* child);
// Reads what is waiting on the child's stdout. >0 bytes, 0 end of the
// stream (the fd is closed), -1 nothing now.
long ChildRead(ChildHandle* child, char* buffer, size_t size);
// Waits until some child has output, a stop signal came, or timeoutMs passed.
void ChildrenWait(const std::vector<ChildHandle*>& children, int timeoutMs);

// The operator's stop for the production line (POSIX: SIGINT and SIGTERM;
// Windows: Ctrl-C, Ctrl-Break and the closing of the console window): it
// sets a flag and wakes ChildrenWait.
bool StopSignalsInstall();
bool StopRequested();
