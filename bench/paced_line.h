// SPDX-License-Identifier: MIT
// One direction of an 8N1 serial line at a given rate, simulated between
// two descriptors: bytes read from one side go out on the other no sooner
// than the line could carry them (10 bit times a byte, one after another),
// and no later than a bound. A line that could not deliver a byte in time
// has fallen behind, and its figures are worthless: callers fail the run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace bench {

class PacedLine {
public:
    // `batchNs`: bytes in full flow are handed over in batches at most this
    // far apart (the last byte of a burst always at its own time), as a USB
    // adapter passes on a packet at a time. `slackNs`: how much later than
    // that a byte may go out before the line counts as fallen behind.
    PacedLine(uint32_t baud, int64_t batchNs = 1000000, int64_t slackNs = 50000000);

    // Bytes read from the sending side at `now`: each starts on the line
    // once the line is free, and arrives at the far end 10 bit times later.
    void Arrive(const uint8_t* data, size_t count, int64_t now);
    // Writes every byte whose time has come to `fd`. False when the far end
    // refused bytes for good (a write error other than a full buffer).
    bool Deliver(int fd, int64_t now);
    // When Deliver must run next; -1 with nothing queued. *exact: it is
    // the last byte of a burst, which the far end waits for: it must go out
    // on time rather than with the next batch.
    int64_t NextDue(int64_t now, bool* exact = nullptr) const;
    bool Empty() const { return m_queue.empty(); }
    // Forgets what is queued: the far end has gone.
    void Drop() { m_queue.clear(); }

    // The largest delay of a byte beyond its batch, and whether it broke the
    // slack: a stall no run survives with a true figure.
    int64_t MaxLateNs() const { return m_maxLate; }
    bool FellBehind() const { return m_fellBehind; }
    // The delays of burst ends added up: what the relay itself cost a
    // stop-and-wait protocol, where each such delay holds up everything
    // after it. A virtual machine wakes even a real-time task a little late
    // now and then; callers take this off a run's duration, and fail a run
    // where it is not small against it.
    int64_t AddedNs() const { return m_addedNs; }
    int64_t ByteNs() const { return int64_t(m_byteNs); }

    struct Arrival {
        int64_t at;     // read from the sending side
        uint8_t first;  // its first byte
        size_t count;
    };
    struct Delivery {
        int64_t at;    // written to the far end
        uint8_t last;  // the last byte of the batch
        size_t count;
    };
    const std::vector<Arrival>& Arrivals() const { return m_arrivals; }
    const std::vector<Delivery>& Deliveries() const { return m_deliveries; }
    uint64_t Delivered() const { return m_delivered; }

private:
    struct Chunk {
        std::vector<uint8_t> data;
        double start;  // ns when its first byte starts on the line
        size_t sent = 0;
    };
    double DueOf(const Chunk& c, size_t i) const { return c.start + double(i + 1) * m_byteNs; }

    double m_byteNs;
    int64_t m_batchNs;
    int64_t m_slackNs;
    double m_lineFree = 0;  // ns when the line has sent all it was given
    std::deque<Chunk> m_queue;
    int64_t m_maxLate = 0;
    int64_t m_addedNs = 0;
    bool m_fellBehind = false;
    uint64_t m_delivered = 0;
    std::vector<Arrival> m_arrivals;
    std::vector<Delivery> m_deliveries;
};

}  // namespace bench
