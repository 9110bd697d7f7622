// SPDX-License-Identifier: MIT
#include "json_events.h"

#include "event_fields.h"
#include "exit_codes.h"
#include "local_time.h"
#include "sha256.h"
#include "stdout_writer.h"

#include "engine.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;

std::mutex g_mutex;
bool g_enabled = false;
bool g_closed = false;  // the result has gone out
std::string g_port;
int g_box = 0;
bool g_image = false;
std::string g_file;
bool g_sizeKnown = false;
uint64_t g_size = 0;
std::string g_sha;
Clock::time_point g_startedAt = Clock::now();
// Progress: one event per percent; the rate counts from the first block.
int g_lastPercent = 0;
uint64_t g_blocks = 0;
Clock::time_point g_firstBlock;

// Which events a slow reader may lose: the running commentary, never what
// a controller needs to know which image went where and how it ended.
StdoutClass ClassOf(const std::string& kind)
{
    if (kind == "progress" || kind == "box-output")
        return StdoutClass::Droppable;
    if (kind == "start" || kind == "result" || kind == "dropped")
        return StdoutClass::Essential;
    return StdoutClass::Kept;
}

// The length of the well-formed UTF-8 sequence at p (1 to 4 bytes), 0 when
// the bytes there are none; *truncated when they begin one that runs past
// the end of the text.
size_t Utf8Sequence(const unsigned char* p, size_t left, bool* truncated)
{
    *truncated = false;
    const unsigned char lead = p[0];
    if (lead < 0x80)
        return 1;
    // The second byte's range excludes overlong forms, surrogates and code
    // points past U+10FFFF.
    size_t more;
    unsigned char lo = 0x80, hi = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        more = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        more = 2;
        lo = lead == 0xE0 ? 0xA0 : 0x80;
        hi = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        more = 3;
        lo = lead == 0xF0 ? 0x90 : 0x80;
        hi = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    for (size_t i = 1; i <= more; ++i) {
        if (i >= left) {
            *truncated = true;
            return 0;
        }
        if (p[i] < lo || p[i] > hi)
            return 0;
        lo = 0x80;
        hi = 0xBF;
    }
    return more + 1;
}

// Bytes at the end of s that begin a UTF-8 sequence still to be completed.
size_t Utf8OpenTail(const std::string& s)
{
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    for (size_t k = 1; k <= 3 && k <= s.size(); ++k) {
        if ((p[s.size() - k] & 0xC0) == 0x80)
            continue;  // a continuation byte: its lead is further back
        bool truncated;
        Utf8Sequence(p + s.size() - k, k, &truncated);
        return truncated ? k : 0;
    }
    return 0;
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

void Emit(const char* kind, const std::string& object)
{
    if (!g_closed)
        StdoutWrite(object + "}\n", ClassOf(kind));
}

// The box's chatter comes byte by byte; it goes out by the line (or when
// another event has to follow it), not one event per byte. A character cut
// by the flush waits for its last bytes, so it stays one character.
std::string g_chatter;
constexpr size_t kChatterMax = 256;

void FlushChatterLocked(bool all)
{
    const size_t keep = all ? 0 : Utf8OpenTail(g_chatter);
    if (g_chatter.size() == keep)
        return;
    std::string data = g_chatter.substr(0, g_chatter.size() - keep);
    g_chatter.erase(0, g_chatter.size() - keep);
    Emit("box-output", Head("box-output") + ",\"data\":" + JsonQuote(data));
}

std::string Number(double v)
{
    char buf[40];
    snprintf(buf, sizeof buf, "%.3f", v);
    return buf;
}

void EmitStartLocked()
{
    FlushChatterLocked(false);
    g_startedAt = Clock::now();
    std::string s = Head("start") + ",\"file\":" + JsonQuote(g_file) + ",\"mode\":\"" +
                    (g_image ? "image" : "served") + "\"";
    if (g_sizeKnown)
        s += ",\"size\":" + std::to_string(g_size);
    if (!g_sha.empty())
        s += ",\"sha256\":\"" + g_sha + "\"";
    Emit("start", s);
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
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    std::string s = "\"";
    for (size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        bool truncated;
        const size_t len = c >= 0x80 ? Utf8Sequence(p + i, n - i, &truncated) : 0;
        if (len > 0) {
            s.append(bytes, i, len);
            i += len;
            continue;
        }
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
            if (c < 0x20 || c >= 0x80) {
                char esc[8];
                snprintf(esc, sizeof esc, "\\u%04x", c);
                s += esc;
            } else {
                s += char(c);
            }
        }
        ++i;
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

void JsonEmitStart(const std::string& file, bool image, bool sizeKnown, uint64_t size)
{
    if (!g_enabled)
        return;
    std::lock_guard<std::mutex> lock(g_mutex);
    g_file = file;
    g_image = image;
    g_sha.clear();
    g_sizeKnown = !image && sizeKnown;
    g_size = g_sizeKnown ? size : 0;
    if (!image)
        EmitStartLocked();
}

void JsonImageSink(const uint8_t* image, uint32_t size)
{
    if (!g_enabled)
        return;
    // Taken on the worker, before it answers the box: at most a few seconds
    // for the largest image, and a stop (or --timeout) cuts it short.
    constexpr uint32_t kSlice = 1u << 20;
    Sha256 h;
    for (uint32_t at = 0; at < size; at += kSlice) {
        if (EngineStopRequested())
            return;
        h.Add(image + at, size - at < kSlice ? size - at : kSlice);
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    g_sizeKnown = true;
    g_size = size;
    g_sha = h.HexDigest();
    EmitStartLocked();
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
    FlushChatterLocked(false);
    Emit("log", Head("log") + ",\"level\":\"" + (level >= 0 && level <= 3 ? kLevels[level] : "info") +
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
    FlushChatterLocked(false);
    uint64_t bytes = g_blocks * 1024;
    if (g_size && bytes > g_size)
        bytes = g_size;
    double elapsed = std::chrono::duration<double>(Clock::now() - g_firstBlock).count();
    double rate = elapsed > 0.05 ? double(bytes) / elapsed : 0;
    Emit("progress", Head("progress") + ",\"percent\":" + std::to_string(percent) +
                         ",\"bytes\":" + std::to_string(bytes) + ",\"rate\":" + std::to_string(uint64_t(rate)));
}

void JsonEchoSink(const uint8_t* data, uint32_t count)
{
    if (!g_enabled || count == 0)
        return;
    std::lock_guard<std::mutex> lock(g_mutex);
    g_chatter.append(reinterpret_cast<const char*>(data), count);
    if (g_chatter.size() >= kChatterMax || g_chatter.find('\n') != std::string::npos)
        FlushChatterLocked(false);
}

void JsonEmitResult(int exitCode)
{
    if (!g_enabled)
        return;
    std::lock_guard<std::mutex> lock(g_mutex);
    FlushChatterLocked(true);
    double seconds = std::chrono::duration<double>(Clock::now() - g_startedAt).count();
    std::string s = Head("result") + ",\"ok\":" + (exitCode == 0 ? "true" : "false") +
                    ",\"reason\":" + JsonQuote(ExitReason(exitCode, g_image)) +
                    ",\"exit_code\":" + std::to_string(exitCode) + ",\"seconds\":" + Number(seconds);
    if (g_image && !g_sha.empty())
        s += ",\"sha256\":\"" + g_sha + "\"";
    // Every piece this process put out is an event.
    s += ",\"dropped\":" + std::to_string(StdoutDropped().pieces);
    Emit("result", s);
    g_closed = true;
}

void JsonForwardLine(const std::string& line)
{
    StdoutWrite(line + "\n", ClassOf(EventKind(line)));
}

void JsonEmitLineDropped(uint64_t events)
{
    if (events == 0)
        return;
    StdoutWrite("{\"event\":\"dropped\",\"time\":\"" + IsoTimeNow() + "\",\"events\":" + std::to_string(events) +
                    "}\n",
                StdoutClass::Essential);
}
