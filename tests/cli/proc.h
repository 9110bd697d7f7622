// SPDX-License-Identifier: MIT
// Child processes and pseudo-terminals for the cross-process tests.
// Every wait here is bounded; a Child that is still running when it goes out
// of scope is killed, so a failing test leaves nothing behind.
#pragma once

#include "host_support.h"

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

using host::MakeTempDir;
using host::Pty;
using host::RandomBytes;
using host::ReadFileBytes;
using host::RemoveTree;
using host::TempDir;
using host::WriteFile;

struct SpawnOptions {
    int stdinFd = -1;   // -1: /dev/null
    int stdoutFd = -1;  // -1: captured through a pipe
    bool captureStderr = true;
    std::string cwd;
    std::vector<std::string> env;  // extra NAME=VALUE entries
    int runAsUid = -1;             // root only: run the child as this user (and its group)
    int runAsGid = -1;
};

class Child {
public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child();

    bool Spawn(const std::vector<std::string>& argv, const SpawnOptions& options = {});
    // Reads what the child wrote until `needle` shows up in the chosen stream.
    bool WaitForOutput(bool fromStderr, const std::string& needle, int timeoutMs);
    // Exit status (the code, or 128 + signal), nullopt when it did not end in time.
    std::optional<int> Wait(int timeoutMs);
    void Signal(int sig);
    void Kill();

    pid_t pid = -1;
    std::string out;  // captured stdout
    std::string err;  // captured stderr

private:
    void Pump(int timeoutMs);
    int m_outFd = -1;
    int m_errFd = -1;
    std::optional<int> m_status;
};

// Runs a command to its end (bounded); returns the exit status, or -1 on time-out.
int RunCommand(const std::vector<std::string>& argv, std::string* out, std::string* err, int timeoutMs = 30000);

// Bounded (10 s); a master whose slave is not open counts as a full line.
bool WriteAll(int fd, const void* data, size_t size);
// Appends what arrives on fd to *buffer until it ends with (or contains) `needle`.
bool ReadUntil(int fd, std::string* buffer, const std::string& needle, int timeoutMs);
bool ReadExactly(int fd, std::string* buffer, size_t count, int timeoutMs);
// Whatever is waiting on fd, collected until `quietMs` pass without a byte.
std::string ReadQuiet(int fd, int quietMs, int limitMs);
