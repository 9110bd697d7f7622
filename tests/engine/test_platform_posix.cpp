// SPDX-License-Identifier: MIT
#include "test_platform.h"

#include <cstdlib>
#include <unistd.h>

namespace etest {

FILE* OpenScratchFile()
{
    // glibc makes it with O_TMPFILE or mkstemp: a file of this process's own.
    return tmpfile();
}

FILE* OpenFilledPipe(const std::vector<uint8_t>& bytes)
{
    int fds[2];
    if (pipe(fds) != 0)
        return nullptr;
    const bool written = write(fds[1], bytes.data(), bytes.size()) == ssize_t(bytes.size());
    close(fds[1]);
    FILE* f = written ? fdopen(fds[0], "rb") : nullptr;
    if (!f)
        close(fds[0]);
    return f;
}

FILE* OpenUnreadableStream(const std::string& path)
{
    // Open for appending only: reads fail with EBADF, seeks still work.
    return fopen(path.c_str(), "ab");
}

bool RewriteUnder(FILE* f, const std::vector<uint8_t>& now)
{
    const int fd = fileno(f);
    return ftruncate(fd, 0) == 0 && pwrite(fd, now.data(), now.size(), 0) == ssize_t(now.size());
}

int RedirectStdout(FILE* sink)
{
    const int saved = dup(STDOUT_FILENO);
    if (saved >= 0 && dup2(fileno(sink), STDOUT_FILENO) < 0) {
        close(saved);
        return -1;
    }
    return saved;
}

void RestoreStdout(int saved)
{
    dup2(saved, STDOUT_FILENO);
    close(saved);
}

void SetEnvVar(const char* name, const char* value)
{
    setenv(name, value, 1);
}

void UnsetEnvVar(const char* name)
{
    unsetenv(name);
}

}  // namespace etest
