// SPDX-License-Identifier: MIT
#include "log_output.h"

#include "engine.h"
#include "std_streams.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

std::mutex g_outMutex;
bool g_terminal = false;
// The terminal takes escape sequences: always on POSIX; on Windows when the
// console's virtual-terminal mode could be switched on (Windows 10 and later).
bool g_vt = false;
bool g_colour = false;

uint64_t g_imageSize = 0;
bool g_barShown = false;
int g_lastPercent = 0;
uint64_t g_blocksAcked = 0;
Clock::time_point g_transferStart;
std::string g_barText;
LogTap g_taps[4] = {};
bool g_quiet = false;

// The console's colours: dark green, red, orange (24-bit ANSI).
const char* ColourOf(int level)
{
    switch (level) {
    case LOG_ERROR:
    case LOG_DONE:
        return "\x1b[38;2;255;0;0m";
    case LOG_NOTICE:
        return "\x1b[38;2;255;128;0m";
    default:
        return "\x1b[38;2;0;123;22m";
    }
}

void Put(const std::string& s)
{
    // stderr is unbuffered; one fwrite per piece keeps a line together.
    fwrite(s.data(), 1, s.size(), stderr);
}

// Back to the start of the line, cleared: by escape sequence, or else by
// writing blanks over the bar.
std::string EraseLineText()
{
    if (g_vt)
        return "\r\x1b[K";
    return "\r" + std::string(g_barText.size(), ' ') + "\r";
}

void EraseBarLocked()
{
    if (g_barShown)
        Put(EraseLineText());
}

void DrawBarLocked()
{
    if (g_barShown)
        Put("\r" + g_barText);
}

std::string FormatDuration(double seconds)
{
    if (seconds < 0 || seconds > 359999)
        return "--:--";
    int s = int(seconds + 0.5);
    char buf[32];
    if (s >= 3600)
        snprintf(buf, sizeof buf, "%d:%02d:%02d", s / 3600, s / 60 % 60, s % 60);
    else
        snprintf(buf, sizeof buf, "%02d:%02d", s / 60, s % 60);
    return buf;
}

}  // namespace

void LogOutputInit()
{
    const StderrKind kind = StderrKindOf();
    g_terminal = kind.terminal;
    g_vt = kind.vt;
    g_colour = g_vt && getenv("NO_COLOR") == nullptr;
}

void LogAddTap(LogTap tap)
{
    std::lock_guard<std::mutex> lock(g_outMutex);
    for (LogTap& t : g_taps)
        if (!t) {
            t = tap;
            return;
        }
}

void LogSetQuiet(bool quiet)
{
    std::lock_guard<std::mutex> lock(g_outMutex);
    g_quiet = quiet;
}

void LogWrite(const char* text, int level)
{
    for (LogTap t : g_taps)
        if (t)
            t(text, level);
    if (g_quiet)
        return;
    time_t now = time(nullptr);
    tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char stamp[16];
    snprintf(stamp, sizeof stamp, "%02d:%02d:%02d  ", local.tm_hour, local.tm_min, local.tm_sec);

    std::string body = text;
    std::string ending;
    if (g_terminal) {
        // A terminal shows "\r\n" and "\n" alike; keep the colour off the break.
        size_t cut = body.size();
        while (cut > 0 && (body[cut - 1] == '\n' || body[cut - 1] == '\r'))
            --cut;
        if (cut < body.size())
            ending = "\n";
        body.resize(cut);
    }
    std::string line = stamp;
    if (g_colour)
        line += std::string(ColourOf(level)) + body + "\x1b[0m" + ending;
    else
        line += body + ending;

    std::lock_guard<std::mutex> lock(g_outMutex);
    EraseBarLocked();
    Put(line);
    DrawBarLocked();
}

void LogPrintf(int level, const char* format, ...)
{
    char buf[1024];
    va_list ap;
    va_start(ap, format);
    vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    LogWrite(buf, level);
}

void LogSetImageSize(uint64_t size)
{
    std::lock_guard<std::mutex> lock(g_outMutex);
    g_imageSize = size;
}

void LogProgress(int percent)
{
    std::lock_guard<std::mutex> lock(g_outMutex);
    if (!g_terminal || g_imageSize == 0 || g_quiet)
        return;
    if (percent <= 0) {
        // The session's final 0: the bar empties, as the console's does.
        EraseBarLocked();
        g_barShown = false;
        g_lastPercent = 0;
        g_blocksAcked = 0;
        return;
    }
    // One report per acknowledged 1 KiB block; a lower value means the box
    // started the transfer again.
    if (percent < g_lastPercent || g_blocksAcked == 0) {
        g_blocksAcked = 0;
        g_transferStart = Clock::now();
    }
    ++g_blocksAcked;
    g_lastPercent = percent;
    uint64_t sent = g_blocksAcked * 1024;
    if (sent > g_imageSize)
        sent = g_imageSize;

    double elapsed = std::chrono::duration<double>(Clock::now() - g_transferStart).count();
    double rate = elapsed > 0.05 ? double(sent) / elapsed : 0;
    double eta = rate > 0 ? double(g_imageSize - sent) / rate : -1;

    const int width = 30;
    int filled = percent * width / 100;
    std::string bar(size_t(filled), '#');
    bar.append(size_t(width - filled), '.');
    char buf[160];
    snprintf(buf, sizeof buf, "%3d%% [%s] %llu/%llu B  %.1f KiB/s  ETA %s", percent, bar.c_str(),
             (unsigned long long)sent, (unsigned long long)g_imageSize, rate / 1024.0,
             FormatDuration(eta).c_str());
    // Erased at the old text's length: the new one may be shorter.
    std::string erase = EraseLineText();
    g_barText = buf;
    Put(erase + g_barText);
    g_barShown = true;
}

void LogClearBar()
{
    std::lock_guard<std::mutex> lock(g_outMutex);
    EraseBarLocked();
    g_barShown = false;
}
