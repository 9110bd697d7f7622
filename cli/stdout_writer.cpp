// SPDX-License-Identifier: MIT
#include "stdout_writer.h"

#include "stdout_put.h"
#include "stop_events.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// Pieces of one class are joined up to this size. Pipe writes up to PIPE_BUF
// are all or nothing: a reader never sees half a line, and a write still
// blocked when the CLI leaves has put none of its bytes out, so the count of
// what did not arrive is exact. (A single piece may be larger.)
constexpr size_t kChunk = 4096;

struct Chunk {
    std::string bytes;
    uint64_t pieces = 0;
    StdoutClass cls = StdoutClass::Droppable;
};

struct WriterState {
    std::mutex lock;
    std::condition_variable changed;
    // The front chunk is in flight while `writing`: its bytes stay put
    // (a deque keeps its elements in place when others are added).
    std::deque<Chunk> queue;
    bool writing = false;
    size_t queuedBytes = 0;  // including the chunk in flight
    uint64_t queuedPieces = 0;
    uint64_t mustWrite = 0;  // Kept and Essential pieces among them
    StdoutLoss dropped;
    bool started = false;
    bool failed = false;    // stdout refused bytes for good, or no thread
    bool finished = false;  // the CLI is leaving: start no further write
};

// Created once and never freed: the writer may still be blocked in its
// write while the process exits, and nothing may be destroyed under it.
WriterState& State()
{
    static WriterState* s = new WriterState;
    return *s;
}

void Forget(WriterState& s, const Chunk& c)
{
    s.queuedBytes -= c.bytes.size();
    s.queuedPieces -= c.pieces;
    if (c.cls != StdoutClass::Droppable)
        s.mustWrite -= c.pieces;
}

void WriterLoop(WriterState* s)
{
    std::unique_lock<std::mutex> guard(s->lock);
    for (;;) {
        s->changed.wait(guard, [s] { return s->finished || (!s->queue.empty() && !s->failed); });
        if (s->finished)
            return;
        s->writing = true;
        const std::string& bytes = s->queue.front().bytes;
        guard.unlock();
        const bool ok = StdoutPut(bytes.data(), bytes.size());
        guard.lock();
        s->writing = false;
        if (s->finished)
            return;  // what it has told the CLI stays true
        if (ok) {
            Forget(*s, s->queue.front());
            s->queue.pop_front();
        } else {
            s->failed = true;
            s->dropped.bytes += s->queuedBytes;
            s->dropped.pieces += s->queuedPieces;
            s->queue.clear();
            s->queuedBytes = 0;
            s->queuedPieces = 0;
            s->mustWrite = 0;
        }
        s->changed.notify_all();
    }
}

bool Fits(const WriterState& s, size_t size, StdoutClass cls)
{
    switch (cls) {
    case StdoutClass::Droppable:
        return s.queuedBytes + size <= kStdoutDroppableBytes;
    case StdoutClass::Kept:
        return s.queuedBytes + size <= kStdoutKeptBytes;
    case StdoutClass::Essential:
        return true;
    }
    return false;
}

}  // namespace

void StdoutWriterStart()
{
    WriterState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.started)
        return;
    s.started = true;
    StopSignalsBlock();
    try {
        std::thread(WriterLoop, &s).detach();
    } catch (...) {  // no thread: drop rather than block whoever writes
        s.failed = true;
    }
    StopSignalsRestore();
}

bool StdoutWrite(const char* data, size_t size, StdoutClass cls)
{
    WriterState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    if (!s.started || s.failed || s.finished || !Fits(s, size, cls)) {
        s.dropped.bytes += size;
        s.dropped.pieces += 1;
        return false;
    }
    const bool backInFlight = s.writing && s.queue.size() == 1;
    if (!s.queue.empty() && !backInFlight && s.queue.back().cls == cls &&
        s.queue.back().bytes.size() + size <= kChunk) {
        s.queue.back().bytes.append(data, size);
        s.queue.back().pieces += 1;
    } else {
        Chunk c;
        c.bytes.assign(data, size);
        c.pieces = 1;
        c.cls = cls;
        s.queue.push_back(std::move(c));
    }
    s.queuedBytes += size;
    s.queuedPieces += 1;
    if (cls != StdoutClass::Droppable)
        s.mustWrite += 1;
    s.changed.notify_all();
    return true;
}

void StdoutChatterSink(const uint8_t* data, uint32_t count)
{
    if (count > 0)
        StdoutWrite(reinterpret_cast<const char*>(data), count, StdoutClass::Droppable);
}

StdoutLoss StdoutDropped()
{
    WriterState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.dropped;
}

StdoutLoss StdoutFinish(int graceMs, const std::function<bool()>& keepWaiting)
{
    WriterState& s = State();
    const auto grace = std::chrono::milliseconds(graceMs > 0 ? graceMs : 0);
    Clock::time_point deadline = Clock::now() + grace;
    for (;;) {
        // Asked outside the lock: it may be anything.
        const bool keep = keepWaiting && keepWaiting();
        std::unique_lock<std::mutex> guard(s.lock);
        if (s.queue.empty() || s.failed || s.finished)
            break;
        const Clock::time_point now = Clock::now();
        if (keep && s.mustWrite > 0)
            deadline = now + grace;
        if (now >= deadline)
            break;
        // Short slices: keepWaiting may change its mind (a stop).
        s.changed.wait_until(guard, std::min(deadline, now + std::chrono::milliseconds(50)));
    }
    std::lock_guard<std::mutex> guard(s.lock);
    s.finished = true;
    s.changed.notify_all();
    StdoutLoss lost = s.dropped;
    lost.bytes += s.queuedBytes;
    lost.pieces += s.queuedPieces;
    return lost;
}
