// SPDX-License-Identifier: MIT
#include "served_session.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <random>
#include <vector>

#include "files.h"
#include "frames.h"
#include "report.h"
#include "sha256.h"
#include "time_check.h"

namespace stbsim {
namespace {

constexpr std::uint8_t kStbStart = 0x01, kDataReq = 0x02, kTimeReq = 0x03;
// The engine may wait up to 10 s for its transmit queue before each piece
// of 256 bytes; a gap longer than that means the bytes are not coming.
constexpr int kChunkByteMs = 12000;
constexpr int kTimeReplyMs = 3000;
// The reply comes from the same clock or one close to it: a gap of an hour
// or more is a wrong date or time, not clock drift.
constexpr long long kTimeToleranceSec = 3600;

int FailWith(const std::string& why)
{
    Report("FAIL: " + why);
    return 1;
}

// Asks for the time and checks the 8-byte reply; empty result when good.
std::string RequestTime(Line& line, Faults& faults)
{
    SendFrame(line, faults, kTimeReq);
    std::uint8_t reply[8];
    for (int i = 0; i < 8; ++i) {
        const int b = line.Get(kTimeReplyMs);
        if (b < 0)
            return i == 0 ? "no answer to the time request"
                          : "time reply cut short after " + std::to_string(i) + " bytes";
        reply[i] = static_cast<std::uint8_t>(b);
    }
    if (reply[0] != 0x02 || reply[1] != 0x03 || reply[7] != 0x03)
        return "time reply is not a frame 02 03 .. 03: " + Hex(reply, 8);
    const DecodedTime t = DecodeTimePayload(reply + 2);
    Report("time reply " + Hex(reply, 8) + ": " + t.text + " UTC (MJD " + std::to_string(t.mjd) + ")");
    if (!t.valid)
        return "time reply " + Hex(reply, 8) + ": " + t.why;
    const long long apart = SecondsApart(t, std::time(nullptr));
    if (apart >= kTimeToleranceSec)
        return "time reply " + t.text + " is " + std::to_string(apart) + " s away from this machine's UTC clock";
    return {};
}

void SendDataRequest(Line& line, Faults& faults, std::uint32_t off, std::uint32_t n)
{
    const std::vector<std::uint8_t> params = {
        static_cast<std::uint8_t>(n),         static_cast<std::uint8_t>(n >> 8),
        static_cast<std::uint8_t>(off),       static_cast<std::uint8_t>(off >> 8),
        static_cast<std::uint8_t>(off >> 16), static_cast<std::uint8_t>(off >> 24)};
    SendFrame(line, faults, kDataReq, params);
}

// Two requests at the file's edge: one that runs past its end, whose answer
// must stop at the last byte, and one wholly beyond it (up to offset
// 2^32-1), which gets no answer at all. The time request behind them frames
// the check: any byte too many breaks its reply. Empty result when good.
std::string RequestAtEdge(Line& line, Faults& faults, const std::vector<std::uint8_t>& want, std::uint32_t size,
                          std::mt19937_64& rng)
{
    if (size > 0) {
        const std::uint32_t k = 1 + static_cast<std::uint32_t>(rng() % std::min<std::uint32_t>(size, 512));
        const std::uint32_t off = size - k;
        SendDataRequest(line, faults, off, 2 * k);
        for (std::uint32_t i = 0; i < k; ++i) {
            const int b = line.Get(kChunkByteMs);
            if (b < 0)
                return "request running past the end at offset " + std::to_string(off) + ": only " +
                       std::to_string(i) + " of the " + std::to_string(k) + " bytes up to the end arrived";
            if (!want.empty() && static_cast<std::uint8_t>(b) != want[off + i])
                return "request running past the end: byte " + std::to_string(off + i) + " differs";
        }
    }
    const std::uint64_t room = 0x100000000ull - size;
    const std::uint32_t beyond = static_cast<std::uint32_t>(size + rng() % room);
    SendDataRequest(line, faults, beyond, 1 + static_cast<std::uint32_t>(rng() % 65535));
    const std::string bad = RequestTime(line, faults);
    return bad.empty() ? bad : "after requests at and past the end of the file: " + bad;
}

// Offsets 0, chunk, 2*chunk ... below size, shuffled when asked for. The
// shuffle is written out (not std::shuffle) so that a seed gives the same
// order with every standard library.
std::vector<std::uint32_t> ChunkOrder(std::uint32_t size, std::uint32_t chunk, bool shuffle, std::uint64_t seed)
{
    std::vector<std::uint32_t> order;
    for (std::uint64_t off = 0; off < size; off += chunk)
        order.push_back(static_cast<std::uint32_t>(off));
    if (shuffle && order.size() > 1) {
        std::mt19937_64 rng(seed);
        for (std::size_t i = order.size() - 1; i > 0; --i) {
            const std::size_t j = static_cast<std::size_t>(rng() % (i + 1));
            std::swap(order[i], order[j]);
        }
    }
    return order;
}

// Only the ranges asked for on the command line, each checked against the
// file read at that offset (the file may be far larger than memory: one
// past 4 GiB shows that offsets up to 2^32-1 reach the right bytes).
int RunRequestedRanges(Line& line, Faults& faults, const Options& opt)
{
    FILE* f = std::fopen(opt.expect.c_str(), "rb");
    if (!f)
        return FailWith("cannot open " + opt.expect);
    Handshake(line, faults, kStbStart, {0x02, 0x01, 0x0A, 0x03});
    for (const auto& [off, len] : opt.requests) {
        std::vector<std::uint8_t> want(len);
        std::size_t have = 0;
        if (fseeko(f, static_cast<off_t>(off), SEEK_SET) == 0)
            have = std::fread(want.data(), 1, len, f);
        want.resize(have);
        SendDataRequest(line, faults, off, len);
        for (std::size_t i = 0; i < want.size(); ++i) {
            const int b = line.Get(kChunkByteMs);
            if (b < 0 || static_cast<std::uint8_t>(b) != want[i]) {
                std::fclose(f);
                return FailWith(
                    "request for " + std::to_string(len) + " bytes at offset " + std::to_string(off) + ": " +
                    (b < 0 ? "only " + std::to_string(i) + " of " + std::to_string(want.size()) + " arrived"
                           : "byte " + std::to_string(i) + " differs"));
            }
        }
        // The time reply frames the answer: a byte too many breaks it.
        const std::string bad = RequestTime(line, faults);
        if (!bad.empty()) {
            std::fclose(f);
            return FailWith("after the request at offset " + std::to_string(off) + ": " + bad);
        }
        Report("request " + std::to_string(len) + " bytes at offset " + std::to_string(off) + ": " +
               std::to_string(want.size()) + " byte(s) came, identical to the file, sha256 " +
               Sha256Hex(want.data(), want.size()));
    }
    std::fclose(f);
    Report("PASS served " + std::to_string(opt.requests.size()) + " requested range(s)");
    return 0;
}

}  // namespace

int RunServedSession(Line& line, Faults& faults, const Options& opt)
{
    if (!opt.requests.empty())
        return RunRequestedRanges(line, faults, opt);
    std::vector<std::uint8_t> want;
    const bool checking = !opt.expect.empty();
    if (checking) {
        std::string err;
        if (!ReadWholeFile(opt.expect, want, err))
            return FailWith(err);
        if (want.size() > 0xFFFFFFFFull)
            return FailWith("the file is too large for 32-bit offsets");
    }
    const std::uint32_t size =
        checking ? static_cast<std::uint32_t>(want.size()) : static_cast<std::uint32_t>(opt.size);
    const std::uint32_t chunk = static_cast<std::uint32_t>(opt.chunk);

    Handshake(line, faults, kStbStart, {0x02, 0x01, 0x0A, 0x03});

    const auto order = ChunkOrder(size, chunk, opt.shuffle, opt.shuffleSeed);
    Report("requesting " + std::to_string(size) + " bytes in " + std::to_string(order.size()) + " chunk(s) of " +
           std::to_string(chunk) + (opt.shuffle ? ", shuffled" : ""));
    std::vector<std::uint8_t> got(size, 0);
    std::mt19937_64 edgeRng(opt.seed ^ 0xED6Eull);
    long done = 0;
    for (const std::uint32_t off : order) {
        const std::uint32_t n = (size - off < chunk) ? size - off : chunk;
        SendDataRequest(line, faults, off, n);
        for (std::uint32_t i = 0; i < n; ++i) {
            const int b = line.Get(kChunkByteMs);
            if (b < 0)
                return FailWith("request for " + std::to_string(n) + " bytes at offset " + std::to_string(off) +
                                ": only " + std::to_string(i) + " arrived");
            got[off + i] = static_cast<std::uint8_t>(b);
        }
        ++done;
        if (opt.timeEvery > 0 && done % opt.timeEvery == 0) {
            const std::string bad = RequestTime(line, faults);
            if (!bad.empty())
                return FailWith(bad);
        }
        if (opt.edgeEvery > 0 && done % opt.edgeEvery == 0) {
            const std::string bad = RequestAtEdge(line, faults, want, size, edgeRng);
            if (!bad.empty())
                return FailWith(bad);
        }
    }
    const std::string bad = RequestTime(line, faults);
    if (!bad.empty())
        return FailWith(bad);
    // Bytes the engine sent beyond what was asked for would have been caught
    // by the time reply's frame check; anything later is reported here.
    const std::size_t extra = line.DrainQuiet(300, 2000);
    if (extra > 0)
        return FailWith(std::to_string(extra) + " byte(s) arrived that nobody asked for");

    const std::string sha = Sha256Hex(got.data(), got.size());
    Report("received " + std::to_string(got.size()) + " bytes, sha256 " + sha);
    if (!opt.out.empty()) {
        std::string err;
        if (!WriteWholeFile(opt.out, got, err))
            return FailWith(err);
    }
    if (checking && got != want) {
        for (std::size_t i = 0; i < got.size(); ++i)
            if (got[i] != want[i])
                return FailWith("file differs from " + opt.expect + " at byte " + std::to_string(i) + ": " +
                                Hex(&got[i], 1) + ", expected " + Hex(&want[i], 1));
    }
    Report("PASS served " + std::to_string(got.size()) + " bytes sha256 " + sha);
    return 0;
}

}  // namespace stbsim
