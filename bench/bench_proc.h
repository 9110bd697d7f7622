// SPDX-License-Identifier: MIT
// Processes, pseudo-terminals and clocks for the wire benchmarks.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace bench {

int64_t MonoNs();

// A pty pair whose slave is set raw and closed again, as a serial port
// nobody holds; the master is non-blocking.
struct Pty {
    int master = -1;
    std::string slave;
    Pty() = default;
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
    ~Pty();
    bool Open();
};

// fork + exec with the given descriptors as stdin, stdout and stderr (-1:
// /dev/null) and working folder (empty: this one).
pid_t Spawn(const std::vector<std::string>& argv, int in, int out, int err, const std::string& cwd = {},
            const std::vector<std::string>& env = {});

struct Ended {
    bool ended = false;  // false: still running after the wait
    int status = -1;     // exit code, or 128 + signal
    double cpuSeconds = 0;  // user + system of the whole process
};
// Waits up to `timeoutMs` for the child; on time-out it is killed and reaped.
Ended WaitChild(pid_t pid, int timeoutMs);

// User + system CPU seconds a running process has used so far, all its
// threads together; negative when it cannot be read.
double CpuSecondsOf(pid_t pid);

// Whole-file helpers.
bool WriteFileBytes(const std::string& path, const std::string& data);
std::string ReadFileBytes(const std::string& path);
std::string RandomBytes(size_t count, unsigned seed);
std::string MakeTempDir();
void RemoveTree(const std::string& dir);

}  // namespace bench
