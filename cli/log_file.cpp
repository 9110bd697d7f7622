// SPDX-License-Identifier: MIT
#include "log_file.h"

#include "local_time.h"
#include "log_file_device.h"
#include "log_output.h"

#include "engine.h"

#include <ctime>
#include <mutex>

namespace {

std::mutex g_mutex;
int g_fd = -1;
std::string g_path;
std::string g_port;
uint64_t g_lost = 0;
std::string g_firstWhy;

}  // namespace

bool LogFileOpen(const std::string& path, std::string* why)
{
    int fd = LogDeviceOpen(path, why);
    if (fd < 0)
        return false;
    std::lock_guard<std::mutex> lock(g_mutex);
    g_fd = fd;
    g_path = path;
    return true;
}

LogFileWritten LogFileWrite(const std::string& port, const std::string& text)
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
        return LogFileWritten::Ok;
    std::string why;
    if (LogDeviceWrite(g_fd, line, &why))
        return LogFileWritten::Ok;
    // Later lines are still tried (a disk may get room again); the count
    // tells how much of the record is missing.
    if (g_lost++ > 0)
        return LogFileWritten::Failed;
    g_firstWhy = why;
    return LogFileWritten::FirstFailure;
}

uint64_t LogFileLostLines()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_lost;
}

std::string LogFileFailureText()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return "Can't write to the log file " + g_path + ": " + g_firstWhy + "; the record of this run is incomplete.";
}

std::string LogFileIncompleteText()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return "The log file " + g_path + " is incomplete: " + std::to_string(g_lost) +
           (g_lost == 1 ? " line" : " lines") + " could not be written (" + g_firstWhy + ").";
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
    // The failure goes into the log like any line (standard error, the
    // events); its own line to the file then fails quietly as a lost one.
    if (LogFileWrite(port, text) == LogFileWritten::FirstFailure)
        LogPrintf(LOG_ERROR, "%s\n", LogFileFailureText().c_str());
}

void LogFileWarnAtEnd()
{
    if (LogFileLostLines() > 0)
        LogPrintf(LOG_ERROR, "%s\n", LogFileIncompleteText().c_str());
}
