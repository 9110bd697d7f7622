// SPDX-License-Identifier: MIT
// The production line's child processes (one per port) and the parent's
// stop signals. The POSIX side is children_posix.cpp; everything that
// decides what to run lives in production_line.cpp.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct ChildHandle {
    long id = -1;     // the process id; -1: none
    int events = -1;  // read end of its standard output (non-blocking)
};

// This program's own executable, for starting the children.
std::string SelfExecutable();
// Starts argv[0] with argv, the environment plus `extraEnv` (NAME=VALUE), its
// stdout a pipe to the parent; stderr is shared.
bool ChildSpawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv, ChildHandle* child,
                std::string* why);
// The operator's Abort for this child (SIGTERM); it ends within its own bound.
void ChildAskToStop(const ChildHandle& child);
// For a child that ignored the stop far past its bound.
void ChildKill(const ChildHandle& child);
// The exit code once it has ended (128 + signal when killed), -1 while it runs.
// Ended children are reaped and their id cleared.
int ChildPoll(ChildHandle* child);
// Reads what is waiting on the child's stdout. >0 bytes, 0 end of the
// stream (the fd is closed), -1 nothing now.
long ChildRead(ChildHandle* child, char* buffer, size_t size);
// Waits until some child has output, a stop signal came, or timeoutMs passed.
void ChildrenWait(const std::vector<ChildHandle*>& children, int timeoutMs);

// SIGINT and SIGTERM stop the production line: they set a flag and wake
// ChildrenWait.
bool StopSignalsInstall();
bool StopRequested();
