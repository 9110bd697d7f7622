// SPDX-License-Identifier: MIT
#include "box_script.h"

#include "engine.h"

#include <algorithm>

int64_t BoxDelayTicks(uint8_t delay)
{
    return delay < 200 ? delay : int64_t(delay - 199) * 100;
}

std::vector<BoxRecord> ReadBoxRecords(FuzzInput& in)
{
    std::vector<BoxRecord> out;
    while (!in.Empty()) {
        BoxRecord r;
        r.delay = in.Byte();
        const uint8_t n = in.Byte();
        r.bytes = in.Take(n);
        out.push_back(std::move(r));
    }
    return out;
}

bool BoxLine::Read(uint8_t* buffer, uint32_t count, uint32_t* got)
{
    const bool ok = VirtualLine::Read(buffer, count, got);
    if (ok && *got > 0)
        lastRead = Now();
    return ok;
}

void BoxLine::Send(const std::vector<uint8_t>& bytes, int64_t at)
{
    for (uint8_t b : bytes) {
        if (at <= Now()) {
            arrived.push_back({at, b, int64_t(written.size())});
        } else {
            m_notYet.push_back(arrived.size());
            arrived.push_back({at, b, -1});
        }
    }
    Feed(bytes, at);
}

// Only a tick moves the clock, so only a tick makes future bytes readable:
// they arrive behind everything the engine wrote before it.
void BoxLine::SleepTick()
{
    VirtualLine::SleepTick();
    size_t keep = 0;
    for (size_t i : m_notYet) {
        if (arrived[i].tick <= Now())
            arrived[i].after = int64_t(written.size());
        else
            m_notYet[keep++] = i;
    }
    m_notYet.resize(keep);
}

BoxScript::BoxScript(BoxLine& line, std::vector<BoxRecord> records, Pace pace, int64_t quietTicks)
    : m_line(line), m_records(std::move(records)), m_pace(pace), m_quiet(quietTicks)
{
}

void BoxScript::Start()
{
    m_line.OnWrite([](VirtualLine& l, const uint8_t* d, uint32_t n) {
        auto& box = static_cast<BoxLine&>(l);
        for (uint32_t i = 0; i < n; ++i)
            box.written.push_back({l.Now(), d[i]});
        box.lastWrite = l.Now();
    });
    m_line.OnSleep([this](VirtualLine&) { OnTick(); });
    if (m_records.empty())
        doneAt = 0;
    else
        FeedNext(BoxDelayTicks(m_records[0].delay));
}

void BoxScript::FeedNext(int64_t at)
{
    const BoxRecord& r = m_records[m_next++];
    m_line.Send(r.bytes, at);
    m_arrival = at;
    m_waitingRead = true;
    m_lastCut = r.midFrame;
}

int64_t BoxScript::LastActivity() const
{
    return std::max({m_line.lastRead, m_line.lastWrite, m_readAt});
}

void BoxScript::OnTick()
{
    const int64_t now = m_line.Now();
    if (stopAt >= 0)
        return;
    if (m_waitingRead) {
        // Unread: still with the driver, or read ahead by the serial link
        // and not yet consumed by the engine.
        const PortLine::ReadAheadBuffer& held = m_line.ReadAhead();
        if (now < m_arrival || m_line.Pending() != 0 || held.tail != held.head) {
            // The box's bytes lie unread for half an hour of line time.
            if (now - m_arrival > 180000) {
                livelock = true;
                stopAt = now;
                g_engineState = ENGINE_ABORT;
            }
            return;
        }
        m_waitingRead = false;
        m_readAt = now;
        if (m_next == m_records.size())
            doneAt = now;
    }
    if (doneAt >= 0) {
        // Said everything: the operator stops once the line is quiet. An
        // engine that keeps talking to a silent box for half an hour of
        // line time is stuck, and is stopped and reported.
        if (now - LastActivity() >= m_quiet) {
            stopAt = now;
        } else if (now - doneAt > 180000) {
            livelock = true;
            stopAt = now;
        }
        if (stopAt >= 0)
            g_engineState = ENGINE_ABORT;
        return;
    }
    const BoxRecord& next = m_records[m_next];
    const int64_t delay = BoxDelayTicks(next.delay);
    if (m_pace == Pace::Answer) {
        // Any write since the record arrived is the engine's answer to it.
        if (m_line.lastWrite >= m_arrival)
            FeedNext(now + delay);
        else if (now - m_readAt >= 300)
            FeedNext(now + delay);
        return;
    }
    // Settled: a record that ended inside a frame is fed only after every
    // frame time-out has run out, so the cut frame is dropped whole.
    if (!m_lastCut || now - LastActivity() >= 1200)
        FeedNext(now + delay);
}

time_t FuzzClock(time_t* out)
{
    const time_t t = 1765324800;  // 2025-12-10 00:00:00 UTC
    if (out)
        *out = t;
    return t;
}
