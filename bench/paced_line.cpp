// SPDX-License-Identifier: MIT
#include "paced_line.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <unistd.h>

namespace bench {

PacedLine::PacedLine(uint32_t baud, int64_t batchNs, int64_t slackNs)
    : m_byteNs(10e9 / double(baud)), m_batchNs(batchNs), m_slackNs(slackNs)
{
}

void PacedLine::Arrive(const uint8_t* data, size_t count, int64_t now)
{
    if (count == 0)
        return;
    Chunk c;
    c.data.assign(data, data + count);
    c.start = std::max(double(now), m_lineFree);
    m_lineFree = c.start + double(count) * m_byteNs;
    m_queue.push_back(std::move(c));
    m_arrivals.push_back({now, data[0], count});
}

bool PacedLine::Deliver(int fd, int64_t now)
{
    while (!m_queue.empty()) {
        Chunk& c = m_queue.front();
        // Bytes of this chunk whose last bit has passed by now.
        const double passed = (double(now) - c.start) / m_byteNs;
        size_t due = passed <= 0 ? 0 : size_t(std::floor(passed));
        due = std::min(due, c.data.size());
        if (due <= c.sent)
            return true;
        // The first byte of the batch may wait for the batch; beyond that
        // the line is late.
        const int64_t late = now - int64_t(DueOf(c, c.sent)) - m_batchNs;
        m_maxLate = std::max(m_maxLate, late);
        if (late > m_slackNs)
            m_fellBehind = true;
        const ssize_t n = write(fd, c.data.data() + c.sent, due - c.sent);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                return true;  // the far end is full: the bytes grow late
            return false;
        }
        m_deliveries.push_back({now, c.data[c.sent + size_t(n) - 1], size_t(n)});
        c.sent += size_t(n);
        m_delivered += uint64_t(n);
        if (c.sent < due)
            return true;
        if (c.sent == c.data.size()) {
            // The end of a burst reached the far end this much after the
            // line would have brought it: time the relay added to the run.
            if (m_queue.size() == 1)
                m_addedNs += std::max<int64_t>(0, now - int64_t(DueOf(c, c.data.size() - 1)));
            m_queue.pop_front();
        } else
            return true;
    }
    return true;
}

int64_t PacedLine::NextDue(int64_t now, bool* exact) const
{
    if (exact)
        *exact = false;
    if (m_queue.empty())
        return -1;
    const Chunk& c = m_queue.front();
    const double next = DueOf(c, c.sent);
    // Bytes already due are still queued only when the far end was full:
    // look again shortly rather than spin.
    if (next <= double(now))
        return now + m_batchNs / 4;
    // Full flow goes out a batch at a time; the burst's last byte on time.
    const double batched = std::max(next, double(now + m_batchNs));
    if (exact)
        *exact = m_lineFree <= batched;
    return int64_t(std::ceil(std::min(batched, m_lineFree)));
}

}  // namespace bench
