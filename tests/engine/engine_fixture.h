// SPDX-License-Identifier: MIT
// Shared pieces of the engine's unit tests: a fixture that gives every test
// fresh engine globals and a virtual line, capturing sinks, a scripted
// YMODEM receiver and helpers for download files.
#pragma once

#include "engine.h"
#include "image_file.h"
#include "serial_link.h"
#include "session.h"
#include "test_platform.h"
#include "time_reply.h"
#include "virtual_line.h"
#include "ymodem.h"

#include "../common/xmodem_crc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace etest {

using Bytes = std::vector<uint8_t>;

// ---------------------------------------------------------------------------
// Capturing sinks. The engine calls plain function pointers, so what they
// record lives in one process-wide journal; log lines and progress values
// share it so that their order can be checked.

struct Entry {
    bool progress;     // false: a log line
    std::string text;  // log text
    int value;         // log level, or the progress value
    bool operator==(const Entry&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Entry& e)
{
    if (e.progress)
        return os << "progress(" << e.value << ")";
    std::string shown;
    for (char c : e.text) {
        if (c == '\r')
            shown += "\\r";
        else if (c == '\n')
            shown += "\\n";
        else
            shown += c;
    }
    return os << "log(\"" << shown << "\", " << e.value << ")";
}

inline Entry Log(const std::string& text, int level)
{
    return {false, text, level};
}
inline Entry Prog(int value)
{
    return {true, "", value};
}

inline std::mutex& JournalLock()
{
    static std::mutex m;
    return m;
}
inline std::vector<Entry>& JournalStore()
{
    static std::vector<Entry> v;
    return v;
}

constexpr int kSinkResult = 7;  // what the capturing log sink returns

inline int CaptureLog(const char* text, int level)
{
    std::lock_guard<std::mutex> g(JournalLock());
    JournalStore().push_back(Log(text, level));
    return kSinkResult;
}
inline void CaptureProgress(int value)
{
    std::lock_guard<std::mutex> g(JournalLock());
    JournalStore().push_back(Prog(value));
}
// The byte sink's reports, and the stages with how many journal entries
// came before each (their place among the log lines and progress values).
struct ByteReport {
    uint64_t acknowledged;
    uint64_t total;
    bool operator==(const ByteReport&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const ByteReport& r)
{
    return os << "bytes(" << r.acknowledged << "/" << r.total << ")";
}

struct StageReport {
    EngineStage stage;
    size_t journalAt;
};

inline std::vector<ByteReport>& ByteStore()
{
    static std::vector<ByteReport> v;
    return v;
}
inline std::vector<StageReport>& StageStore()
{
    static std::vector<StageReport> v;
    return v;
}
inline void CaptureBytes(uint64_t acknowledged, uint64_t total)
{
    std::lock_guard<std::mutex> g(JournalLock());
    ByteStore().push_back({acknowledged, total});
}
inline void CaptureStage(EngineStage stage)
{
    std::lock_guard<std::mutex> g(JournalLock());
    StageStore().push_back({stage, JournalStore().size()});
}
inline std::vector<ByteReport> ByteReports()
{
    std::lock_guard<std::mutex> g(JournalLock());
    return ByteStore();
}
inline std::vector<StageReport> StageReports()
{
    std::lock_guard<std::mutex> g(JournalLock());
    return StageStore();
}

inline std::vector<Entry> Journal()
{
    std::lock_guard<std::mutex> g(JournalLock());
    return JournalStore();
}
inline std::vector<Entry> LogLines()
{
    std::vector<Entry> out;
    for (const Entry& e : Journal())
        if (!e.progress)
            out.push_back(e);
    return out;
}
inline std::vector<int> ProgressValues()
{
    std::vector<int> out;
    for (const Entry& e : Journal())
        if (e.progress)
            out.push_back(e.value);
    return out;
}
inline void ClearJournal()
{
    std::lock_guard<std::mutex> g(JournalLock());
    JournalStore().clear();
    ByteStore().clear();
    StageStore().clear();
}

// ---------------------------------------------------------------------------
// Download files.

// An unnamed temporary file holding `bytes`, open for reading like the
// console opens it.
struct TempFile {
    FILE* f = nullptr;
    explicit TempFile(const Bytes& bytes)
    {
        f = OpenScratchFile();
        if (f && !bytes.empty())
            fwrite(bytes.data(), 1, bytes.size(), f);
        if (f) {
            fflush(f);
            rewind(f);
        }
    }
    ~TempFile()
    {
        if (f)
            fclose(f);
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
};

inline Bytes Pattern(size_t n, uint32_t seed = 1)
{
    Bytes b(n);
    uint32_t x = seed * 2654435761u + 12345u;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        b[i] = uint8_t(x >> 16);
    }
    return b;
}

constexpr std::array<uint8_t, 4> kServiceWord = {0xDE, 0x01, 0xBE, 0x7F};

// A 15-byte header with the magic masked by `key`, then the payload.
inline Bytes ImageFileBytes(const Bytes& payload, uint8_t key = 0x5A, uint8_t major = 1, uint8_t minor = 2,
                            std::array<uint8_t, 4> service = kServiceWord)
{
    Bytes b;
    b.push_back(key);
    for (int i = 0; i < 8; ++i)
        b.push_back(uint8_t(IMAGE_MAGIC[i] ^ key));
    b.push_back(major);
    b.push_back(minor);
    b.insert(b.end(), service.begin(), service.end());
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

// ---------------------------------------------------------------------------
// The tests' own CRC-16/XMODEM (tests/common), not the engine's.
inline uint16_t Crc16(const uint8_t* p, size_t n)
{
    return XmodemCrc16(p, n);
}

// ---------------------------------------------------------------------------
// A YMODEM receiver that answers by the book from the line's write hook,
// with a knob to replace any of its answers.

enum class RxKind { Header, Data, Eot, Close };

struct RxEvent {
    RxKind kind;
    int number;     // block number on the line (0 for block 0 and EOT)
    int sendCount;  // how often this same block (or EOT) has come in a row, from 1
    int dataIndex;  // data blocks: 1 for the first distinct block, and so on
};

struct RxBlock {
    uint8_t header;
    uint8_t number;
    uint8_t complement;
    Bytes data;
    bool crcOk;
    int64_t at;  // virtual tick at which its last byte was written
};

class YmodemReceiver {
public:
    explicit YmodemReceiver(VirtualLine& line) : m_line(line) {}

    // Replace an answer: return the bytes to send instead (empty: stay
    // silent), or nothing to answer by the book.
    std::function<std::optional<Bytes>(const RxEvent&)> fault;
    int replyDelay = 0;    // ticks between the sender's last byte and the answer
    bool closingC = true;  // send 'C' after acknowledging the closing block 0

    // Start a transfer once `skip` more bytes have been written (the service
    // word of an image session): then say 'C'.
    void Arm(int skip = 0)
    {
        m_skip = skip;
        m_state = skip > 0 ? State::Skip : State::Idle;
        m_phase = 0;
        m_buf.clear();
        m_lastKey = -1;
        m_sendCount = 0;
        m_dataIndex = 0;
        if (skip == 0)
            Reply({YM_CRC});
    }

    void OnBytes(const uint8_t* d, uint32_t n)
    {
        for (uint32_t i = 0; i < n; ++i)
            OnByte(d[i]);
    }

    // What came over.
    std::vector<RxBlock> blocks;  // every block, resends included
    Bytes file;                   // data of the accepted data blocks in order
    Bytes preamble;               // the skipped bytes
    Bytes stray;                  // bytes outside any block
    int eots = 0;
    int cans = 0;
    bool closed = false;  // the closing block 0 was acknowledged
    std::string name;     // from the opening block 0
    std::string size;

    int CountHeaders() const
    {
        return int(std::count_if(blocks.begin(), blocks.end(), [](const RxBlock& b) { return b.header == YM_SOH; }));
    }

private:
    enum class State { Off, Skip, Idle, Block };

    void Reply(const Bytes& b)
    {
        if (!b.empty())
            m_line.Feed(b, m_line.Now() + replyDelay);
    }

    void OnByte(uint8_t b)
    {
        switch (m_state) {
        case State::Off:
            stray.push_back(b);
            return;
        case State::Skip:
            preamble.push_back(b);
            if (--m_skip == 0) {
                m_state = State::Idle;
                Reply({YM_CRC});
            }
            return;
        case State::Idle:
            if (b == YM_SOH || b == YM_STX) {
                m_buf.assign(1, b);
                m_need = (b == YM_SOH ? 128 : 1024) + 5;
                m_state = State::Block;
            } else if (b == YM_EOT) {
                ++eots;
                Answer({RxKind::Eot, 0, Count(0x1000), 0}, {YM_ACK, YM_CRC});
            } else if (b == YM_CAN) {
                ++cans;
            } else {
                stray.push_back(b);
            }
            return;
        case State::Block:
            m_buf.push_back(b);
            if (int(m_buf.size()) == m_need) {
                m_state = State::Idle;
                Complete();
            }
            return;
        }
    }

    int Count(int key)
    {
        if (key == m_lastKey)
            ++m_sendCount;
        else
            m_sendCount = 1;
        m_lastKey = key;
        return m_sendCount;
    }

    void Complete()
    {
        RxBlock blk;
        blk.header = m_buf[0];
        blk.number = m_buf[1];
        blk.complement = m_buf[2];
        const size_t len = m_buf.size() - 5;
        blk.data.assign(m_buf.begin() + 3, m_buf.begin() + 3 + long(len));
        const uint16_t crc = uint16_t((m_buf[3 + len] << 8) | m_buf[4 + len]);
        blk.crcOk = crc == Crc16(blk.data.data(), len);
        blk.at = m_line.Now();
        blocks.push_back(blk);
        const bool sound = blk.crcOk && uint8_t(blk.number + blk.complement) == 0xFF;

        if (blk.header == YM_SOH) {
            const bool closing = m_phase == 2;
            RxEvent ev{closing ? RxKind::Close : RxKind::Header, blk.number,
                       Count(0x100 + blk.number + (closing ? 0x10000 : 0)), 0};
            if (closing) {
                Bytes ok = {YM_ACK};
                if (closingC)
                    ok.push_back(YM_CRC);
                if (Answer(ev, sound && blk.number == 0 ? ok : Bytes{YM_NAK}))
                    closed = true;
            } else {
                if (sound && blk.number == 0) {
                    name = reinterpret_cast<const char*>(blk.data.data());
                    size = reinterpret_cast<const char*>(blk.data.data()) + name.size() + 1;
                }
                if (Answer(ev, sound && blk.number == 0 ? Bytes{YM_ACK, YM_CRC} : Bytes{YM_NAK}))
                    m_phase = 1;
            }
            return;
        }
        const int key = 0x200 + blk.number;
        const bool fresh = key != m_lastKey;
        if (fresh)
            ++m_dataIndex;
        RxEvent ev{RxKind::Data, blk.number, Count(key), m_dataIndex};
        if (Answer(ev, sound ? Bytes{YM_ACK} : Bytes{YM_NAK}))
            file.insert(file.end(), blk.data.begin(), blk.data.end());
    }

    // Sends the knob's answer or the book's; true when the answer was an ACK.
    bool Answer(const RxEvent& ev, const Bytes& book)
    {
        Bytes reply = book;
        if (fault) {
            if (auto r = fault(ev))
                reply = *r;
        }
        const bool acked = !reply.empty() && reply[0] == YM_ACK;
        if (ev.kind == RxKind::Eot && acked)
            m_phase = 2;
        Reply(reply);
        return acked;
    }

    VirtualLine& m_line;
    State m_state = State::Off;
    int m_skip = 0;
    int m_phase = 0;  // 0 opening block 0, 1 data, 2 after EOT
    Bytes m_buf;
    int m_need = 0;
    int m_lastKey = -1;
    int m_sendCount = 0;
    int m_dataIndex = 0;
};

// ---------------------------------------------------------------------------
// The fixture: fresh engine globals, the virtual line as g_enginePort, the
// capturing sinks installed, and the real clock put back afterwards.

// A line and receiver of one table case's own, made the engine's port, with
// the stop request and the journal started afresh; the receiver answers
// what the engine writes until a case installs a writer of its own.
struct CaseLine {
    VirtualLine line;
    YmodemReceiver rx{line};
    CaseLine()
    {
        g_enginePort = &line;
        g_engineState = 0;
        line.OnWrite([this](VirtualLine&, const uint8_t* d, uint32_t n) { rx.OnBytes(d, n); });
        ClearJournal();
    }
    CaseLine(const CaseLine&) = delete;
    CaseLine& operator=(const CaseLine&) = delete;

    // Ends the case's session once the engine has written nothing for
    // `quiet` ticks; the receiver still answers every write.
    void StopWhenQuiet(int64_t quiet = 3000)
    {
        line.OnWrite([this](VirtualLine& v, const uint8_t* d, uint32_t n) {
            lastWrite = v.Now();
            rx.OnBytes(d, n);
        });
        line.OnSleep([this, quiet](VirtualLine& v) {
            if (v.Now() - lastWrite >= quiet)
                g_engineState = ENGINE_ABORT;
        });
    }

private:
    int64_t lastWrite = 0;
};

class EngineFixture : public ::testing::Test {
protected:
    VirtualLine line;
    YmodemReceiver rx{line};
    // Answers what the engine writes; the receiver by default.
    std::function<void(const uint8_t*, uint32_t)> respond;
    int64_t lastEvent = 0;

    void SetUp() override
    {
        ClearJournal();
        g_engineState = 0;
        g_enginePort = &line;
        g_engineFile = nullptr;
        g_bEngineImageMode = 0;
        g_bEngineBusy = 0;
        g_pfnLogSink = CaptureLog;
        g_pfnProgressSink = CaptureProgress;
        g_pfnByteProgressSink = CaptureBytes;
        g_pfnStageSink = CaptureStage;
        g_pfnEchoSink = nullptr;
        g_bEngineLineLost = 0;
        EngineSetOutcome(EngineOutcome::None);
        PortResetLostWatch();
        m_savedClock = g_pfnEngineClock;
        respond = [this](const uint8_t* d, uint32_t n) { rx.OnBytes(d, n); };
        line.OnWrite([this](VirtualLine& l, const uint8_t* d, uint32_t n) {
            lastEvent = std::max(lastEvent, l.Now());
            if (respond)
                respond(d, n);
        });
    }

    void TearDown() override
    {
        g_engineState = 0;
        g_enginePort = nullptr;
        g_engineFile = nullptr;
        g_bEngineImageMode = 0;
        g_pfnLogSink = nullptr;
        g_pfnProgressSink = nullptr;
        g_pfnByteProgressSink = nullptr;
        g_pfnStageSink = nullptr;
        g_pfnEchoSink = nullptr;
        g_bEngineLineLost = 0;
        g_pfnEngineClock = m_savedClock;
    }

    void Feed(const Bytes& b, int64_t at = -1)
    {
        const int64_t when = at < 0 ? line.Now() : at;
        line.Feed(b, when);
        lastEvent = std::max(lastEvent, when);
    }

    // Ends a session run on the test thread: a stop request once the line
    // has been quiet (nothing fed, nothing written) for `quiet` ticks, and in
    // any case after `cap` ticks so that a stuck engine still returns.
    void StopWhenQuiet(int quiet = 3000, int64_t cap = 2000000)
    {
        line.OnSleep([this, quiet, cap](VirtualLine& l) {
            if (l.Now() - lastEvent >= quiet || l.Now() >= cap)
                g_engineState = ENGINE_ABORT;
        });
    }

    // A line of a test's own as the engine's port, with the lost-port
    // watch and the journal started afresh.
    void UseLine(VirtualLine& l)
    {
        g_enginePort = &l;
        g_bEngineLineLost = 0;
        PortResetLostWatch();
        ClearJournal();
    }

    // A served or image session over `file`.
    void UseFile(FILE* f, bool image)
    {
        g_engineFile = f;
        g_bEngineImageMode = image ? 1 : 0;
    }

    Bytes Written() const { return line.Written(); }

private:
    time_t (*m_savedClock)(time_t*) = nullptr;
};

inline std::string Hex(const Bytes& b, size_t max = 64)
{
    std::string s;
    char tmp[4];
    for (size_t i = 0; i < b.size() && i < max; ++i) {
        snprintf(tmp, sizeof tmp, "%02X ", b[i]);
        s += tmp;
    }
    if (b.size() > max)
        s += "...";
    return s;
}

}  // namespace etest
