// SPDX-License-Identifier: MIT
#include "test_platform.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <string>

namespace etest {

FILE* OpenScratchFile()
{
    // A name no other process can be making at the same moment (its id, a
    // count and the clock), and CREATE_NEW so that even then only one of
    // two gets it; the system deletes the file with its last handle.
    static std::atomic<unsigned> count{0};
    wchar_t dir[MAX_PATH];
    const DWORD n = GetTempPathW(MAX_PATH, dir);
    if (n == 0 || n >= MAX_PATH)
        return nullptr;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring path = std::wstring(dir) + L"marbrix-scratch-" + std::to_wstring(GetCurrentProcessId()) +
                                  L"-" + std::to_wstring(count++) + L"-" + std::to_wstring(GetTickCount64()) +
                                  L".tmp";
        HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS)
                continue;
            return nullptr;
        }
        const int fd = _open_osfhandle(intptr_t(h), _O_RDWR | _O_BINARY);
        if (fd < 0) {
            CloseHandle(h);
            return nullptr;
        }
        FILE* f = _fdopen(fd, "w+b");
        if (!f)
            _close(fd);
        return f;
    }
    return nullptr;
}

FILE* OpenFilledPipe(const std::vector<uint8_t>& bytes)
{
    int fds[2];
    if (_pipe(fds, 4096, _O_BINARY) != 0)
        return nullptr;
    const bool written = _write(fds[1], bytes.data(), unsigned(bytes.size())) == int(bytes.size());
    _close(fds[1]);
    FILE* f = written ? _fdopen(fds[0], "rb") : nullptr;
    if (!f)
        _close(fds[0]);
    return f;
}

FILE* OpenUnreadableStream(const std::string& path)
{
    // The C runtime lets a stream opened for writing read without a word:
    // a read stream over a descriptor open for writing only meets the
    // system's refusal instead.
    const int fd = _open(path.c_str(), _O_WRONLY | _O_BINARY);
    if (fd < 0)
        return nullptr;
    FILE* f = _fdopen(fd, "rb");
    if (!f)
        _close(fd);
    return f;
}

bool RewriteUnder(FILE* f, const std::vector<uint8_t>& now)
{
    const int fd = _fileno(f);
    return _chsize_s(fd, 0) == 0 && _lseeki64(fd, 0, SEEK_SET) == 0 &&
           _write(fd, now.data(), unsigned(now.size())) == int(now.size());
}

int RedirectStdout(FILE* sink)
{
    const int saved = _dup(1);
    if (saved >= 0 && _dup2(_fileno(sink), 1) < 0) {
        _close(saved);
        return -1;
    }
    return saved;
}

void RestoreStdout(int saved)
{
    _dup2(saved, 1);
    _close(saved);
}

void SetEnvVar(const char* name, const char* value)
{
    _putenv_s(name, value);
}

// An empty value removes the variable from the C runtime's environment.
void UnsetEnvVar(const char* name)
{
    _putenv_s(name, "");
}

}  // namespace etest
