// SPDX-License-Identifier: MIT
// A whole session against arbitrary box bytes on the virtual-time line, in
// image mode and in served mode.
//
// Input: a flags byte, an optional lost-line script, then the box's
// records (see box_script.h).
//   flags bit 0     image mode
//   flags bits 1-2  quiet time before the operator's stop: 20, 300, 2500, 6000 ticks
//   flags bit 3     the port is lost: tick (u16), then duration byte (0 = for good, else x10 ticks)
//   flags bit 4     a transmit queue draining 115 bytes a tick (115200 bit/s) instead of at once
//   flags bits 5-7  which download file
//
// Rules checked on every input:
//   - the session ends, within 100 ticks of the stop, and a port lost for
//     good ends it with the lost-port line within a second of the verdict;
//   - "Velto file send OK!" only for a transfer whose every block the box
//     acknowledged after it went out, carrying exactly the padded image;
//   - served mode: the engine writes exactly the answers to the frames the
//     box sent (each chunk the file's bytes for the range asked, nothing
//     more), and echoes exactly the bytes outside frames.
#include "box_script.h"
#include "fuzz_check.h"
#include "fuzz_input.h"
#include "transfer_check.h"

#include "engine.h"
#include "image_file.h"
#include "serial_link.h"
#include "session.h"
#include "time_reply.h"

#include <sys/types.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// --- download files -------------------------------------------------------

// Served files: sizes around the edges of a request, one spanning the
// 16-bit length, one sparse file past 4 GiB whose written stretches sit at
// the start, around 2 GiB and just below 4 GiB.
constexpr uint64_t kServedSizes[8] = {0, 1, 255, 256, 1023, 70000, 300, (1ull << 32) + 100};

uint8_t PatternByte(uint64_t offset)
{
    uint64_t x = offset * 0x9E3779B97F4A7C15ull;
    return uint8_t((x >> 29) ^ (x >> 47) ^ offset);
}

void WriteStretch(FILE* f, uint64_t from, uint64_t to)
{
    Bytes b(size_t(to - from));
    for (uint64_t o = from; o < to; ++o)
        b[size_t(o - from)] = PatternByte(o);
    if (pwrite(fileno(f), b.data(), b.size(), off_t(from)) != ssize_t(b.size()))
        abort();
}

// Image files: a valid header and payloads that end inside, on and just
// past a block, and a few that the loader refuses.
Bytes ImageFile(int which)
{
    static const int payloads[8] = {1, 1024, 1025, 3000, 0, 5000, 2048, 1};
    Bytes f;
    const uint8_t key = uint8_t(0x30 + which);
    f.push_back(key);
    for (int i = 0; i < 8; ++i)
        f.push_back(uint8_t("VELTOWDL"[i] ^ key));
    f.push_back(1);
    f.push_back(0);
    const uint8_t service[4] = {0xDE, uint8_t(which), 0xBE, 0x7F};
    f.insert(f.end(), service, service + 4);
    for (int i = 0; i < payloads[which]; ++i)
        f.push_back(PatternByte(uint64_t(i) * 7 + uint64_t(which)));
    if (which == 7)
        f[3] ^= 0x20;  // magic broken
    return f;
}

struct DownloadFile {
    FILE* f = nullptr;
    uint64_t size = 0;
    Bytes image;  // image mode: the padded image the box must get
};

// Made once per process and kept: the fuzzer runs millions of inputs.
DownloadFile& File(bool imageMode, int which)
{
    static std::map<int, DownloadFile> files;
    const int key = (imageMode ? 8 : 0) + which;
    auto it = files.find(key);
    if (it != files.end()) {
        rewind(it->second.f);
        return it->second;
    }
    DownloadFile d;
    d.f = tmpfile();
    if (!d.f)
        abort();
    if (imageMode) {
        const Bytes bytes = ImageFile(which);
        fwrite(bytes.data(), 1, bytes.size(), d.f);
        fflush(d.f);
        d.size = bytes.size();
        if (bytes.size() > 15) {
            d.image.assign(bytes.begin() + 15, bytes.end());
            d.image.resize((d.image.size() + 1023) / 1024 * 1024, 0xFF);
        }
    } else {
        d.size = kServedSizes[which];
        if (ftruncate(fileno(d.f), off_t(d.size)) != 0)
            abort();
        const uint64_t s = d.size;
        if (s <= 70000) {
            WriteStretch(d.f, 0, s);
        } else {
            WriteStretch(d.f, 0, 70000);
            WriteStretch(d.f, (1ull << 31) - 70000, (1ull << 31) + 70000);
            WriteStretch(d.f, (1ull << 32) - 70000, s);
        }
    }
    rewind(d.f);
    return files[key] = d;
}

// The file's bytes from `offset`, up to `length`, read independently.
Bytes FileRange(FILE* f, uint64_t size, uint64_t offset, uint32_t length)
{
    if (offset >= size)
        return {};
    const uint64_t n = std::min<uint64_t>(length, size - offset);
    Bytes b(static_cast<size_t>(n));
    if (n && pread(fileno(f), b.data(), b.size(), off_t(offset)) != ssize_t(n))
        abort();
    return b;
}

// --- sinks ------------------------------------------------------------------

struct LogLine {
    std::string text;
    int level;
    size_t writtenBefore;  // bytes the engine had written when it logged
};
std::vector<LogLine> g_log;
Bytes g_echo;
BoxLine* g_line = nullptr;

int KeepLog(const char* text, int level)
{
    g_log.push_back({text, level, g_line ? g_line->written.size() : 0});
    return 0;
}
void KeepEcho(const uint8_t* data, uint32_t count)
{
    g_echo.insert(g_echo.end(), data, data + count);
}
void KeepProgress(int) {}

// --- the served-mode model -------------------------------------------------

// What the engine must write and echo for the box's records, each of which
// is read whole; a frame cut at a record's end is dropped (the script
// waits out its time-outs). Marks such records for the script.
struct ServedModel {
    Bytes written;
    Bytes echo;
};

ServedModel ModelServed(std::vector<BoxRecord>& records, const DownloadFile& file, const Bytes& timeFrame)
{
    ServedModel m;
    for (BoxRecord& r : records) {
        enum { Idle, Code, Params, Etx } state = Idle;
        uint8_t code = 0;
        Bytes params;
        for (uint8_t b : r.bytes) {
            switch (state) {
            case Idle:
                if (b == 0x02)
                    state = Code;
                else
                    m.echo.push_back(b);
                break;
            case Code:
                code = b;
                params.clear();
                state = code == 0x02 ? Params : Etx;
                break;
            case Params:
                params.push_back(b);
                if (params.size() == 6)
                    state = Etx;
                break;
            case Etx:
                state = Idle;
                if (b != 0x03)
                    break;
                if (code == 0x01) {
                    const uint8_t start[] = {0x02, 0x01, 0x0A, 0x03};
                    m.written.insert(m.written.end(), start, start + 4);
                } else if (code == 0x02) {
                    const uint32_t length = uint32_t(params[0] | (params[1] << 8));
                    const uint64_t offset = uint64_t(params[2]) | (uint64_t(params[3]) << 8) |
                                            (uint64_t(params[4]) << 16) | (uint64_t(params[5]) << 24);
                    const Bytes chunk = FileRange(file.f, file.size, offset, length);
                    m.written.insert(m.written.end(), chunk.begin(), chunk.end());
                } else if (code == 0x03) {
                    m.written.insert(m.written.end(), timeFrame.begin(), timeFrame.end());
                }
                break;
            }
        }
        r.midFrame = state != Idle;
    }
    return m;
}

std::string Show(const Bytes& b, size_t at)
{
    std::string s;
    char tmp[8];
    for (size_t i = at; i < b.size() && i < at + 16; ++i) {
        snprintf(tmp, sizeof tmp, "%02X ", b[i]);
        s += tmp;
    }
    return s;
}

// Where two byte strings first differ, told for a failure message.
std::string Mismatch(const char* what, const Bytes& got, const Bytes& want)
{
    size_t i = 0;
    while (i < got.size() && i < want.size() && got[i] == want[i])
        ++i;
    return std::string(what) + ": " + std::to_string(got.size()) + " bytes, expected " + std::to_string(want.size()) +
           "; first difference at " + std::to_string(i) + ": got [" + Show(got, i) + "] expected [" + Show(want, i) +
           "]";
}

void ResetEngine(BoxLine* line)
{
    g_log.clear();
    g_echo.clear();
    g_line = line;
    g_engineState = 0;
    g_enginePort = line;
    g_bEngineBusy = 0;
    g_pfnLogSink = KeepLog;
    g_pfnProgressSink = KeepProgress;
    g_pfnEchoSink = KeepEcho;
    g_bEngineLineLost = 0;
    g_pfnEngineClock = FuzzClock;
    PortResetLostWatch();
}

// The time reply frame for the fixed clock, made once.
const Bytes& TimeFrame()
{
    static Bytes frame = [] {
        BoxLine scratch;
        ResetEngine(&scratch);
        SendTimeReply();
        g_line = nullptr;
        return scratch.Written();
    }();
    return frame;
}

bool Logged(const char* text, int level)
{
    for (const LogLine& l : g_log)
        if (l.text == text && l.level == level)
            return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const int64_t kQuiet[4] = {20, 300, 2500, 6000};
    const Bytes& timeFrame = TimeFrame();

    FuzzInput in(data, size);
    const uint8_t flags = in.Byte();
    const bool imageMode = flags & 1;
    const int64_t quiet = kQuiet[(flags >> 1) & 3];
    int64_t lostFrom = -1, lostUntil = -1;
    if (flags & 8) {
        lostFrom = in.U16();
        const uint8_t d = in.Byte();
        lostUntil = d == 0 ? -1 : lostFrom + int64_t(d) * 10;
    }
    DownloadFile& file = File(imageMode, (flags >> 5) & 7);
    std::vector<BoxRecord> records = ReadBoxRecords(in);
    ServedModel model;
    if (!imageMode)
        model = ModelServed(records, file, timeFrame);

    BoxLine line;
    ResetEngine(&line);
    g_engineFile = file.f;
    g_bEngineImageMode = imageMode ? 1 : 0;
    if (flags & 16)
        line.SetTransmitRate(115);
    if (lostFrom >= 0)
        line.LoseLine("Input/output error", lostFrom, lostUntil);

    BoxScript script(line, std::move(records), imageMode ? BoxScript::Pace::Answer : BoxScript::Pace::Settled, quiet);
    script.Start();
    RunSession();
    const int64_t end = line.Now();
    const Bytes written = line.Written();
    g_line = nullptr;
    g_enginePort = nullptr;
    g_engineFile = nullptr;
    g_engineState = 0;

    // MARBRIX_FUZZ_SHOW=1 tells what a replayed input did.
    static const bool show = getenv("MARBRIX_FUZZ_SHOW") != nullptr;
    if (show) {
        for (const LogLine& l : g_log)
            fprintf(stderr, "  [%d] %s", l.level, l.text.c_str());
        fprintf(stderr, "  ended at tick %lld (stop at %lld), %zu bytes written, %zu echoed\n", (long long)end,
                (long long)script.stopAt, written.size(), g_echo.size());
    }
    FUZZ_CHECK(!script.livelock, "the engine kept the line busy long after the box went quiet");
    const bool lostForGood = lostFrom >= 0 && lostUntil < 0;
    const bool lostLine = Logged("Serial port lost! Abort Download\n", LOG_DONE);
    if (script.stopAt >= 0 && !lostLine)
        FUZZ_CHECK(end - script.stopAt <= 100,
                   "the session took " + std::to_string(end - script.stopAt) + " ticks to stop");
    if (lostForGood && (script.stopAt < 0 || script.stopAt > lostFrom + PORT_LOST_TICKS) && lostLine)
        FUZZ_CHECK(end <= lostFrom + PORT_LOST_TICKS + 100, "a lost port ended the session only at tick " +
                                                                std::to_string(end) + ", lost at " +
                                                                std::to_string(lostFrom));
    if (lostLine)
        FUZZ_CHECK(lostFrom >= 0, "a port that never went away was called lost");

    if (imageMode) {
        const bool ok = Logged("Velto file send OK!\n", LOG_DONE);
        if (ok) {
            size_t from = SIZE_MAX;
            for (const LogLine& l : g_log)
                if (l.text == "Start Service......\n")
                    from = l.writtenBefore;
            FUZZ_CHECK(from != SIZE_MAX, "sent OK without a service start");
            const std::string why = CheckSentTransfer(line.written, from, line.arrived, file.image, "VELTO");
            FUZZ_CHECK(why.empty(), "\"Velto file send OK!\" for a transfer the box did not get whole: " + why);
        }
        return 0;
    }

    if (lostFrom < 0) {
        FUZZ_CHECK(written == model.written, Mismatch("served answers", written, model.written));
        FUZZ_CHECK(g_echo == model.echo, Mismatch("echoed box output", g_echo, model.echo));
    } else if (lostForGood) {
        // Answers stop where the port went; what was written is still right.
        FUZZ_CHECK(written.size() <= model.written.size() &&
                       std::equal(written.begin(), written.end(), model.written.begin()),
                   Mismatch("served answers on a lost port", written, model.written));
    }
    return 0;
}
