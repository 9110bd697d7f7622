// SPDX-License-Identifier: MIT
// The few things the engine's tests ask of the operating system, kept out of
// the test files so that they read the same on Linux and under Wine.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace etest {

// An unnamed scratch file, open for reading and writing, gone once closed:
// tmpfile() where it is safe. Under Wine the C runtime's tmpfile() is not
// exclusive between processes: two test programs that ctest runs side by
// side in one prefix can be handed the same file (or none), and then one
// reads the other's bytes. Null on failure.
FILE* OpenScratchFile();

// A stream reading a pipe that already holds `bytes` and whose writing end is
// closed: data a read delivers, but no position to seek. Null on failure.
FILE* OpenFilledPipe(const std::vector<uint8_t>& bytes);

// A stream over the file at `path` (which holds its bytes already) that
// seeks and tells its length like any other but fails every read, as a
// disk with a bad sector does. Null on failure.
FILE* OpenUnreadableStream(const std::string& path);

// Replaces the content under an open stream, as another program would.
// False if the file could not be rewritten.
bool RewriteUnder(FILE* f, const std::vector<uint8_t>& now);

// Points file descriptor 1 at `sink` and returns a copy of the one it had,
// for RestoreStdout; -1 if that failed.
int RedirectStdout(FILE* sink);
void RestoreStdout(int saved);

// Catches what the process writes to its standard output (file descriptor 1,
// where the engine's fallback echo goes) from construction until Take().
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // Flushes stdout, puts the real one back and returns what was written.
    std::string Take();

private:
    FILE* sink = nullptr;
    int saved = -1;
};

// Sets or removes an environment variable in the C runtime the tests run in,
// for the tests that change TZ.
void SetEnvVar(const char* name, const char* value);
void UnsetEnvVar(const char* name);

}  // namespace etest
