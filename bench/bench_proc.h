// SPDX-License-Identifier: MIT
// Processes and clocks for the wire benchmarks; ptys and files come from
// the helpers the cross-process tests use.
#pragma once

#include "host_support.h"

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace bench {

int64_t MonoNs();

// The benchmarks' own name for the pty's slave path.
struct Pty : host::Pty {
    const std::string& slave = slavePath;
};

// fork + exec with the given descriptors as stdin, stdout and stderr (-1:
// /dev/null) and working folder (empty: this one).
pid_t Spawn(const std::vector<std::string>& argv, int in, int out, int err, const std::string& cwd = {},
            const std::vector<std::string>& env = {});

struct Ended {
    bool ended = false;     // false: still running after the wait
    int status = -1;        // exit code, or 128 + signal
    double cpuSeconds = 0;  // user + system of the whole process
};
// Waits up to `timeoutMs` for the child; on time-out it is killed and reaped.
Ended WaitChild(pid_t pid, int timeoutMs);

// User + system CPU seconds a running process has used so far, all its
// threads together; negative when it cannot be read.
double CpuSecondsOf(pid_t pid);

using host::MakeTempDir;
using host::RandomBytes;
using host::ReadFileBytes;
using host::RemoveTree;
inline bool WriteFileBytes(const std::string& path, const std::string& data)
{
    return host::WriteFile(path, data);
}

}  // namespace bench
