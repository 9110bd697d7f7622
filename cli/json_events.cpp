// SPDX-License-Identifier: MIT
#include "json_events.h"

#include "exit_codes.h"
#include "local_time.h"
#include "sha256.h"

#include "engine.h"
#include "image_file.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

std::mutex g_mutex;
bool g_enabled = false;
std::string g_port;
int g_box = 0;
bool g_image = false;
uint64_t g_size = 0;
std::string g_sha;
Clock::time_point g_startedAt = Clock::now();
// Progress: one event per percent; the rate counts from the first block.
int g_lastPercent = 0;
uint64_t g_blocks = 0;
Clock::time_point g_firstBlock;

// One whole line to fd 1; a reader that went away loses the events, not the download.
void WriteLine(const std::string& line)
{
    const char* p = line.data();
    size_t left = line.size();
    while (left > 0) {
        ssize_t n = write(STDOUT_FILENO, p, left);
        if (n > 0) {
            p += n;
            left -= size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // stdout made non-blocking by whoever shares it: wait a little.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        } else {
            return;
        }
    }
}

// Opens an object with the fields every event has; the caller adds its own
// (each starting with a comma) and Emit closes it.
std::string Head(const char* kind)
{
    std::string s = "{\"event\":\"" + std::string(kind) + "\",\"time\":\"" + IsoTimeNow() +
                    "\",\"port\":" + JsonQuote(g_port);
    if (g_box > 0)
        s += ",\"box\":" + std::to_string(g_box);
    return s;
}

// The box's chatter comes byte by byte; it goes out by the line (or when
// another event has to follow it), not one event per byte.
std::string g_chatter;
constexpr size_t kChatterMax = 256;

void FlushChatterLocked()
{
    if (g_chatter.empty())
        return;
    std::string data;
    data.swap(g_chatter);
    WriteLine(Head("box-output") + ",\"data\":" + JsonQuote(data) + "}\n");
}

void Emit(const std::string& object)
{
    WriteLine(object + "}\n");
}

std::string Number(double v)
{
    char buf[40];
    snprintf(buf, sizeof buf, "%.3f", v);
    return buf;
}

// What the box is sent: for an image the payload after the header, padded
// with 0xFF to whole KiB; any other file as it is.
bool HashFile(const std::string& name, bool image, uint64_t* size, std::string* sha)
{
    FILE* f = fopen(name.c_str(), "rb");
    if (!f)
        return false;
    Sha256 h;
    uint8_t buf[65536];
    uint64_t total = 0;
    size_t skip = image ? IMAGE_HEADER_SIZE : 0;
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) {
        total += n;
        size_t from = skip < n ? skip : n;
        skip -= from;
        h.Add(buf + from, n - from);
    }
    bool ok = !ferror(f);
    fclose(f);
    if (!ok)
        return false;
    if (image) {
        uint64_t padded = ImagePaddedSize(total);
        uint64_t payload = total > IMAGE_HEADER_SIZE ? total - IMAGE_HEADER_SIZE : 0;
        uint8_t pad[1024];
        for (uint8_t& b : pad)
            b = 0xFF;
        for (uint64_t left = padded > payload ? padded - payload : 0; left > 0;) {
            size_t take = left < sizeof pad ? size_t(left) : sizeof pad;
            h.Add(pad, take);
            left -= take;
        }
        *size = padded;
    } else {
        *size = total;
    }
    *sha = h.HexDigest();
    return true;
}

}  // namespace

std::string IsoTimeNow()
{
    auto now = std::chrono::system_clock::now();
    time_t secs = std::chrono::system_clock::to_time_t(now);
    int ms = int(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    tm local = LocalTime(secs);
    char date[40];
    strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    char out[64];
    snprintf(out, sizeof out, "%s.%03d%s", date, ms, UtcOffset(secs).c_str());
    return out;
}

std::string JsonQuote(const std::string& bytes)
{
    std::string s = "\"";
    for (unsigned char c : bytes) {
        switch (c) {
        case '"':
            s += "\\\"";
            break;
        case '\\':
            s += "\\\\";
            break;
        case '\n':
            s += "\\n";
            break;
        case '\r':
            s += "\\r";
            break;
        case '\t':
            s += "\\t";
            break;
        default:
            if (c < 0x20 || c >= 0x7F) {
                char esc[8];
                snprintf(esc, sizeof esc, "\\u%04x", c);
                s += esc;
            } else {
                s += char(c);
            }
        }
    }
    return s + "\"";
}

const char* ExitReason(int exitCode, bool image)
{
    switch (exitCode) {
    case EXIT_SENT:
        return image ? "sent" : "stopped";
    case EXIT_USAGE:
        return "usage error";
    case EXIT_REJECTED:
        return "rejected";
    case EXIT_PORT:
        return "port failed or lost";
    case EXIT_FILE:
        return "file unreadable";
    case EXIT_INCOMPLETE:
        return "incomplete";
    default:
        return "ended abnormally";
    }
}

void JsonEventsEnable(const std::string& port, int box, bool image)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_enabled = true;
    g_image = image;
    g_port = port;
    g_box = box;
    g_startedAt = Clock::now();
}

bool JsonEventsEnabled()
{
    return g_enabled;
}

void JsonEmitStart(const std::string& file, bool image)
{
    if (!g_enabled)
        return;
    uint64_t size = 0;
    std::string sha;
    bool hashed = HashFile(file, image, &size, &sha);
    std::lock_guard<std::mutex> lock(g_mutex);
    FlushChatterLocked();
    g_image = image;
    g_size = size;
    g_sha = hashed ? sha : "";
    g_startedAt = Clock::now();
    std::string s = Head("start") + ",\"file\":" + JsonQuote(file) + ",\"mode\":\"" + (image ? "image" : "served") +
                    "\"";
    if (hashed)
        s += ",\"size\":" + std::to_string(size) + ",\"sha256\":\"" + sha + "\"";
    Emit(s);
}

void JsonLogTap(const char* text, int level)
{
    if (!g_enabled)
        return;
    static const char* const kLevels[] = {"info", "error", "notice", "done"};
    std::string t = text;
    while (!t.empty() && (t.back() == '\n' || t.back() == '\r'))
        t.pop_back();
    std::lock_guard<std::mutex> lock(g_mutex);
    FlushChatterLocked();
    Emit(Head("log") + ",\"level\":\"" + (level >= 0 && level <= 3 ? kLevels[level] : "info") +
         "\",\"text\":" + JsonQuote(t));
}

void JsonProgress(int percent)
{
    if (!g_enabled)
        return;
    std::lock_guard<std::mutex> lock(g_mutex);
    if (percent <= 0) {  // the session's final 0
        g_blocks = 0;
        g_lastPercent = 0;
        return;
    }
    // One report per acknowledged 1 KiB block; a lower value is a restart.
    if (percent < g_lastPercent || g_blocks == 0) {
        g_blocks = 0;
        g_firstBlock = Clock::now();
        g_lastPercent = 0;
    }
    ++g_blocks;
    if (percent == g_lastPercent)
        return;
    g_lastPercent = percent;
    FlushChatterLocked();
    uint64_t bytes = g_blocks * 1024;
    if (g_size && bytes > g_size)
        bytes = g_size;
    double elapsed = std::chrono::duration<double>(Clock::now() - g_firstBlock).count();
    double rate = elapsed > 0.05 ? double(bytes) / elapsed : 0;
    Emit(Head("progress") + ",\"percent\":" + std::to_string(percent) + ",\"bytes\":" + std::to_string(bytes) +
         ",\"rate\":" + std::to_string(uint64_t(rate)));
}

void JsonEchoSink(const uint8_t* data, uint32_t count)
{
    if (!g_enabled || count == 0)
        return;
    std::lock_guard<std::mutex> lock(g_mutex);
    g_chatter.append(reinterpret_cast<const char*>(data), count);
    if (g_chatter.size() >= kChatterMax || g_chatter.find('\n') != std::string::npos)
        FlushChatterLocked();
}

void JsonEmitResult(int exitCode)
{
    if (!g_enabled)
        return;
    std::lock_guard<std::mutex> lock(g_mutex);
    FlushChatterLocked();
    double seconds = std::chrono::duration<double>(Clock::now() - g_startedAt).count();
    std::string s = Head("result") + ",\"ok\":" + (exitCode == 0 ? "true" : "false") +
                    ",\"reason\":" + JsonQuote(ExitReason(exitCode, g_image)) +
                    ",\"exit_code\":" + std::to_string(exitCode) + ",\"seconds\":" + Number(seconds);
    if (g_image && !g_sha.empty())
        s += ",\"sha256\":\"" + g_sha + "\"";
    Emit(s);
}
