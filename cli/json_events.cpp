// SPDX-License-Identifier: MIT
// The events themselves: what each one holds and when it goes out.
#include "json_events.h"

#include "event_fields.h"
#include "image_digest.h"
#include "stdout_writer.h"
#include "transfer_rate.h"

#include <nlohmann/json.hpp>

#include <chrono>
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
// Progress: one event per percent.
TransferRate g_rate;

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

// An event with the members every one has; the caller adds its own.
EventObject Head(const char* kind)
{
    EventObject e;
    e["event"] = kind;
    e["time"] = IsoTimeNow();
    e["port"] = g_port;
    if (g_box > 0)
        e["box"] = g_box;
    return e;
}

void Emit(const EventObject& event)
{
    if (!g_closed) {
        const std::string& kind = event["event"].get_ref<const std::string&>();
        StdoutWrite(EventText(event) + "\n", ClassOf(kind));
    }
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
    EventObject e = Head("box-output");
    e["data"] = g_chatter.substr(0, g_chatter.size() - keep);
    g_chatter.erase(0, g_chatter.size() - keep);
    Emit(e);
}

void EmitStartLocked()
{
    FlushChatterLocked(false);
    g_startedAt = Clock::now();
    EventObject e = Head("start");
    e["file"] = g_file;
    e["mode"] = g_image ? "image" : "served";
    if (g_sizeKnown)
        e["size"] = g_size;
    if (!g_sha.empty())
        e["sha256"] = g_sha;
    Emit(e);
}

}  // namespace

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
    std::string sha = ImageDigest(image, size);
    if (sha.empty())
        return;  // stopped while it was taken
    std::lock_guard<std::mutex> lock(g_mutex);
    g_sizeKnown = true;
    g_size = size;
    g_sha = sha;
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
    EventObject e = Head("log");
    e["level"] = level >= 0 && level <= 3 ? kLevels[level] : "info";
    e["text"] = t;
    Emit(e);
}

void JsonProgress(int percent, uint64_t acknowledged, uint64_t total)
{
    if (!g_enabled)
        return;
    std::lock_guard<std::mutex> lock(g_mutex);
    if (acknowledged == 0) {  // the session's final report
        g_rate.Reset();
        return;
    }
    if (!g_rate.Acknowledged(percent, acknowledged))
        return;
    FlushChatterLocked(false);
    const TransferRate::Figures now = g_rate.Now(total);
    EventObject e = Head("progress");
    e["percent"] = percent;
    e["bytes"] = now.bytes;
    e["rate"] = uint64_t(now.rate);
    Emit(e);
}

void JsonStageSink(EngineStage stage)
{
    if (!g_enabled)
        return;
    std::lock_guard<std::mutex> lock(g_mutex);
    FlushChatterLocked(false);
    EventObject e = Head("stage");
    e["stage"] = stage == EngineStage::Box ? "box" : "transfer";
    Emit(e);
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
    EventObject e = Head("result");
    e["ok"] = exitCode == 0;
    e["reason"] = ExitReason(exitCode, g_image);
    e["exit_code"] = exitCode;
    e["seconds"] = std::chrono::duration<double>(Clock::now() - g_startedAt).count();
    if (g_image && !g_sha.empty())
        e["sha256"] = g_sha;
    // Every piece this process put out is an event.
    e["dropped"] = StdoutDropped().pieces;
    Emit(e);
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
    EventObject e;
    e["event"] = "dropped";
    e["time"] = IsoTimeNow();
    e["events"] = events;
    StdoutWrite(EventText(e) + "\n", StdoutClass::Essential);
}
