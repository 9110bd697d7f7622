// SPDX-License-Identifier: MIT
// Pseudo-terminals and whole files for the programs that drive marbrix-cli
// and stbsim from outside: the cross-process tests and the wire benchmarks.
#pragma once

#include <cstddef>
#include <string>

namespace host {

// A pty whose slave is set raw and then closed: the program under test opens
// it as it would a serial port and must find nobody else holding it. While
// no program has the slave open, the master's reads fail (EIO) and poll
// reports a hang-up. The master is non-blocking.
struct Pty {
    int master = -1;
    std::string slavePath;
    Pty() = default;
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
    ~Pty();
    bool Open();
};

// A fresh folder under /tmp ("" on failure), and its removal with all inside.
std::string MakeTempDir();
void RemoveTree(const std::string& dir);

// A scratch folder that goes, with all inside, when the object goes: a test
// that fails half-way leaves nothing under /tmp.
struct TempDir {
    std::string path = MakeTempDir();
    TempDir() = default;
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() { RemoveTree(path); }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
};

bool WriteFile(const std::string& path, const std::string& data);
std::string ReadFileBytes(const std::string& path);
// The same bytes for the same seed, so that a failure can be replayed.
std::string RandomBytes(size_t count, unsigned seed);

}  // namespace host
