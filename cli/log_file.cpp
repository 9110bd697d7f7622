// SPDX-License-Identifier: MIT
#include "log_file.h"

#include "local_time.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

#ifndef O_CLOEXEC
#define O_CLOEXEC 0  // Windows: no exec to leak the descriptor into
#endif

namespace {

std::mutex g_mutex;
int g_fd = -1;
std::string g_port;

}  // namespace

bool LogFileOpen(const std::string& path, std::string* why)
{
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        *why = strerror(errno);
        return false;
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    g_fd = fd;
    return true;
}

void LogFileWrite(const std::string& port, const std::string& text)
{
    std::string body = text;
    while (!body.empty() && (body.back() == '\n' || body.back() == '\r'))
        body.pop_back();
    time_t now = time(nullptr);
    tm local = LocalTime(now);
    char stamp[32];
    strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    // One write per line: O_APPEND keeps lines of several writers whole.
    std::string line = std::string(stamp) + " " + port + " " + body + "\n";
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_fd < 0)
        return;
    ssize_t n = write(g_fd, line.data(), line.size());
    (void)n;  // a full disk must not stop a download
}

void LogFileSetPort(const std::string& port)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_port = port;
}

void LogFileTap(const char* text, int)
{
    std::string port;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        port = g_port;
    }
    LogFileWrite(port, text);
}
