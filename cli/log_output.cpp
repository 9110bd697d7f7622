// SPDX-License-Identifier: MIT
#include "log_output.h"

#include "calendar_time.h"
#include "transfer_rate.h"

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

std::mutex g_outMutex;
bool g_terminal = false;
// The terminal takes escape sequences: always on POSIX; on Windows when the
// console's virtual-terminal mode could be switched on (Windows 10 and later).
bool g_vt = false;
bool g_colour = false;

uint64_t g_imageSize = 0;
bool g_barShown = false;
TransferRate g_rate;
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
    const tm local = LocalTime(time(nullptr));
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

void LogProgress(int percent, uint64_t acknowledged, uint64_t total)
{
    std::lock_guard<std::mutex> lock(g_outMutex);
    if (!g_terminal || g_imageSize == 0 || g_quiet)
        return;
    if (acknowledged == 0) {
        // The session's final report: the bar empties, as the console's does.
        EraseBarLocked();
        g_barShown = false;
        g_rate.Reset();
        return;
    }
    g_rate.Acknowledged(percent, acknowledged);
    const TransferRate::Figures now = g_rate.Now(total);

    const int width = 30;
    int filled = percent * width / 100;
    std::string bar(size_t(filled), '#');
    bar.append(size_t(width - filled), '.');
    char buf[160];
    snprintf(buf, sizeof buf, "%3d%% [%s] %llu/%llu B  %.1f KiB/s  ETA %s", percent, bar.c_str(),
             (unsigned long long)now.bytes, (unsigned long long)total, now.rate / 1024.0,
             FormatDuration(now.secondsLeft).c_str());
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
