// SPDX-License-Identifier: MIT
#include "echo_output.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <poll.h>
#include <unistd.h>
#endif

namespace {

constexpr size_t kCapacity = size_t(1) << 20;
// Pipe writes up to PIPE_BUF are all or nothing, so a write still blocked
// when the CLI leaves has put none of its bytes out, and the count is exact.
constexpr size_t kChunk = 4096;

struct EchoState {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<uint8_t> ring = std::vector<uint8_t>(kCapacity);
    size_t head = 0;  // oldest byte not yet written
    size_t size = 0;  // bytes queued, including the one write in progress
    uint64_t dropped = 0;
    bool failed = false;   // stdout refused bytes for good, or no writer
    bool finished = false; // the CLI is leaving: start no further write
};

// Created once and never freed: the writer may still be blocked in write(2)
// while the process exits, and nothing may be destroyed under it.
EchoState* g_echo = nullptr;

// Writes all of [data, data + count) to fd 1; false when stdout is gone.
#ifdef _WIN32
// Straight to the handle: the C runtime's stream would lock against the
// log's writes to stderr on some runtimes, and nothing here is text.
bool WriteOut(const uint8_t* data, size_t count)
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE)
        return false;
    while (count > 0) {
        DWORD n = 0;
        if (!WriteFile(out, data, DWORD(count), &n, nullptr))
            return false;
        data += n;
        count -= n;
    }
    return true;
}
#else
bool WriteOut(const uint8_t* data, size_t count)
{
    while (count > 0) {
        ssize_t n = write(STDOUT_FILENO, data, count);
        if (n > 0) {
            data += n;
            count -= size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // stdout's description may have been made non-blocking by
            // whoever shares it.
            pollfd p = {STDOUT_FILENO, POLLOUT, 0};
            poll(&p, 1, 100);
            continue;
        }
        return false;
    }
    return true;
}
#endif

void WriterLoop(EchoState* s)
{
    std::unique_lock<std::mutex> guard(s->lock);
    for (;;) {
        s->changed.wait(guard, [s] { return s->finished || (s->size > 0 && !s->failed); });
        if (s->finished)
            return;
        // The sink only ever fills free space, so this span stays put while
        // the lock is released for the write.
        size_t span = std::min({s->size, kCapacity - s->head, kChunk});
        const uint8_t* data = s->ring.data() + s->head;
        guard.unlock();
        bool ok = WriteOut(data, span);
        guard.lock();
        if (ok) {
            s->head = (s->head + span) % kCapacity;
            s->size -= span;
        } else {
            s->failed = true;
            s->dropped += s->size;
            s->size = 0;
        }
        s->changed.notify_all();
    }
}

}  // namespace

void EchoOutputStart()
{
    if (g_echo)
        return;
    g_echo = new EchoState;
    try {
        std::thread(WriterLoop, g_echo).detach();
    } catch (...) {  // no thread: drop rather than block the worker
        g_echo->failed = true;
    }
}

void EchoOutputSink(const uint8_t* data, uint32_t count)
{
    EchoState* s = g_echo;
    if (!s)
        return;
    std::lock_guard<std::mutex> guard(s->lock);
    size_t room = s->failed || s->finished ? 0 : kCapacity - s->size;
    size_t take = count < room ? count : room;
    size_t tail = (s->head + s->size) % kCapacity;
    size_t first = std::min(take, kCapacity - tail);
    memcpy(s->ring.data() + tail, data, first);
    memcpy(s->ring.data(), data + first, take - first);
    s->size += take;
    s->dropped += count - take;
    if (take > 0)
        s->changed.notify_all();
}

uint64_t EchoOutputFinish(int timeoutMs)
{
    EchoState* s = g_echo;
    if (!s)
        return 0;
    std::unique_lock<std::mutex> guard(s->lock);
    s->changed.wait_for(guard, std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0),
                        [s] { return s->size == 0 || s->failed; });
    s->finished = true;
    s->changed.notify_all();
    return s->dropped + s->size;
}
