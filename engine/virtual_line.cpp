// SPDX-License-Identifier: MIT
#include "virtual_line.h"

#include <algorithm>

void VirtualLine::ArriveLocked()
{
    while (!m_future.empty() && m_future.front().at <= m_now) {
        m_arrived.push_back(m_future.front().byte);
        m_future.pop_front();
    }
}

// True (and the reason noted) while the line is scripted as gone.
bool VirtualLine::GoneLocked()
{
    const bool gone = m_lostReason && m_now >= m_lostFrom && (m_lostUntil < 0 || m_now < m_lostUntil);
    m_lastLost = gone ? m_lostReason : nullptr;
    return gone;
}

// True when this call fails: the line is gone, or one of the failures
// scripted for this kind of call is due (and then used up).
bool VirtualLine::FailsNowLocked(int* pendingFailures)
{
    if (GoneLocked())
        return true;
    if (*pendingFailures > 0) {
        --*pendingFailures;
        return true;
    }
    return false;
}

bool VirtualLine::QueueStatus(PortQueueStatus* status)
{
    std::lock_guard<std::recursive_mutex> g(m_lock);
    ++m_statusQueries;
    if (FailsNowLocked(&m_failStatus))
        return false;
    ArriveLocked();
    status->cbInQue = static_cast<uint32_t>(m_arrived.size());
    uint64_t out = (m_rate == 0 && !m_stuck) ? 0 : m_outQueue;
    status->cbOutQue = static_cast<uint32_t>(std::min<uint64_t>(out, UINT32_MAX));
    return true;
}

bool VirtualLine::Read(uint8_t* buffer, uint32_t count, uint32_t* got)
{
    std::lock_guard<std::recursive_mutex> g(m_lock);
    *got = 0;
    if (FailsNowLocked(&m_failReads))
        return false;
    ArriveLocked();
    while (*got < count && !m_arrived.empty()) {
        buffer[(*got)++] = m_arrived.front();
        m_arrived.pop_front();
    }
    return true;
}

bool VirtualLine::Write(const uint8_t* buffer, uint32_t count, uint32_t* put)
{
    WriteHook hook;
    {
        std::lock_guard<std::recursive_mutex> g(m_lock);
        *put = 0;
        if (FailsNowLocked(&m_failWrites))
            return false;
        m_written.insert(m_written.end(), buffer, buffer + count);
        m_calls.emplace_back(buffer, buffer + count);
        m_outQueue += count;
        *put = count;
        hook = m_onWrite;
    }
    if (hook)
        hook(*this, buffer, count);
    return true;
}

void VirtualLine::SleepTick()
{
    SleepHook hook;
    {
        std::lock_guard<std::recursive_mutex> g(m_lock);
        ++m_now;
        if (!m_stuck)
            m_outQueue -= std::min<uint64_t>(m_outQueue, m_rate);
        hook = m_onSleep;
    }
    if (hook)
        hook(*this);
}

int64_t VirtualLine::SleepShort(int64_t us)
{
    constexpr int64_t kTickUs = 10000;
    SleepHook hook;
    int ticks = 0;
    {
        std::lock_guard<std::recursive_mutex> g(m_lock);
        ++m_shortSleeps;
        if (!m_stuck) {
            m_sendCreditUs += uint64_t(us) * m_rate;
            m_outQueue -= std::min<uint64_t>(m_outQueue, m_sendCreditUs / kTickUs);
            m_sendCreditUs %= kTickUs;
        }
        m_partUs += us;
        while (m_partUs >= kTickUs) {
            m_partUs -= kTickUs;
            ++m_now;
            ++ticks;
        }
        hook = m_onSleep;
    }
    for (int i = 0; hook && i < ticks; ++i)
        hook(*this);
    return us;
}

void VirtualLine::Feed(const std::vector<uint8_t>& bytes, int64_t at)
{
    std::lock_guard<std::recursive_mutex> g(m_lock);
    if (at < m_now)
        at = m_now;
    // Keep the schedule sorted; bytes fed for the same tick keep their order.
    auto pos =
        std::upper_bound(m_future.begin(), m_future.end(), at, [](int64_t t, const Arrival& a) { return t < a.at; });
    std::vector<Arrival> add;
    add.reserve(bytes.size());
    for (uint8_t b : bytes)
        add.push_back({at, b});
    m_future.insert(pos, add.begin(), add.end());
}

void VirtualLine::Feed(std::initializer_list<uint8_t> bytes, int64_t at)
{
    Feed(std::vector<uint8_t>(bytes), at);
}

void VirtualLine::OnWrite(WriteHook hook)
{
    std::lock_guard<std::recursive_mutex> g(m_lock);
    m_onWrite = std::move(hook);
}

void VirtualLine::OnSleep(SleepHook hook)
{
    std::lock_guard<std::recursive_mutex> g(m_lock);
    m_onSleep = std::move(hook);
}

void VirtualLine::SetTransmitRate(uint32_t bytesPerTick)
{
    std::lock_guard<std::recursive_mutex> g(m_lock);
    m_rate = bytesPerTick;
}

void VirtualLine::SetTransmitStuck(bool stuck)
{
    std::lock_guard<std::recursive_mutex> g(m_lock);
    m_stuck = stuck;
}

void VirtualLine::FailStatus(int n)
{
    std::lock_guard<std::recursive_mutex> g(m_lock);
    m_failStatus = n;
}
void VirtualLine::FailReads(int n)
{
    std::lock_guard<std::recursive_mutex> g(m_lock);
    m_failReads = n;
}
void VirtualLine::FailWrites(int n)
{
    std::lock_guard<std::recursive_mutex> g(m_lock);
    m_failWrites = n;
}

int64_t VirtualLine::Now() const
{
    std::lock_guard<std::recursive_mutex> g(m_lock);
    return m_now;
}
int64_t VirtualLine::Sleeps() const
{
    return Now();
}

int64_t VirtualLine::Microseconds() const
{
    std::lock_guard<std::recursive_mutex> g(m_lock);
    return m_now * 10000 + m_partUs;
}

int64_t VirtualLine::ShortSleeps() const
{
    std::lock_guard<std::recursive_mutex> g(m_lock);
    return m_shortSleeps;
}

uint32_t VirtualLine::Pending() const
{
    std::lock_guard<std::recursive_mutex> g(m_lock);
    const_cast<VirtualLine*>(this)->ArriveLocked();
    return static_cast<uint32_t>(m_arrived.size());
}

std::vector<uint8_t> VirtualLine::Written() const
{
    std::lock_guard<std::recursive_mutex> g(m_lock);
    return m_written;
}

std::vector<std::vector<uint8_t>> VirtualLine::WriteCalls() const
{
    std::lock_guard<std::recursive_mutex> g(m_lock);
    return m_calls;
}

void VirtualLine::ClearWritten()
{
    std::lock_guard<std::recursive_mutex> g(m_lock);
    m_written.clear();
    m_calls.clear();
}

const char* VirtualLine::LostReason() const
{
    std::lock_guard<std::recursive_mutex> g(m_lock);
    return m_lastLost;
}

void VirtualLine::LoseLine(const char* reason, int64_t from, int64_t until)
{
    std::lock_guard<std::recursive_mutex> g(m_lock);
    m_lostReason = reason;
    m_lostFrom = from < 0 ? m_now : from;
    m_lostUntil = until;
}

int64_t VirtualLine::StatusQueries() const
{
    std::lock_guard<std::recursive_mutex> g(m_lock);
    return m_statusQueries;
}
