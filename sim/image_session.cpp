// SPDX-License-Identifier: MIT
#include "image_session.h"

#include <algorithm>

#include "files.h"
#include "frames.h"
#include "report.h"
#include "sha256.h"
#include "ymodem_rx.h"

namespace stbsim {
namespace {

constexpr std::uint8_t kDataDlStart = 0xAA;
constexpr std::uint8_t kDataDlService = 0xB0;
constexpr int kServiceByteMs = 3000;
constexpr int kStartFrameMs = 500;    // how often a box at power-on repeats its start frame
constexpr int kRebootFrameMs = 1000;  // and a box that rebooted in the middle of a download

int FailWith(const std::string& why)
{
    Report("FAIL: " + why);
    return 1;
}

// Where two buffers first differ, as a report fragment; empty when equal.
std::string FirstDifference(const std::vector<std::uint8_t>& got, const std::vector<std::uint8_t>& want)
{
    const std::size_t n = got.size() < want.size() ? got.size() : want.size();
    for (std::size_t i = 0; i < n; ++i)
        if (got[i] != want[i])
            return "byte " + std::to_string(i) + " is " + Hex(&got[i], 1) + ", expected " + Hex(&want[i], 1);
    if (got.size() != want.size())
        return "length " + std::to_string(got.size()) + ", expected " + std::to_string(want.size());
    return {};
}

bool WriteOut(const Options& opt, const std::vector<std::uint8_t>& data)
{
    if (opt.out.empty())
        return true;
    std::string err;
    if (WriteWholeFile(opt.out, data, err))
        return true;
    FailWith(err);
    return false;
}

// The hidden --ymodem-only run: one batch, checked against the plain file
// given with --expect.
int RunYmodemOnly(Line& line, Faults& faults, const Options& opt)
{
    std::vector<std::uint8_t> want;
    std::string err;
    if (!opt.expect.empty() && !ReadWholeFile(opt.expect, want, err))
        return FailWith(err);
    // The receiver speaks first ('C'); its tries count from when a sender is there.
    line.WaitForPeer();
    YmodemResult r = YmodemReceive(line, faults);
    if (!r.ok)
        return FailWith(r.failure);
    const std::string sha = Sha256Hex(r.data.data(), r.data.size());
    Report("file \"" + r.name + "\" size " + std::to_string(r.announced) + " sha256 " + sha);
    if (!WriteOut(opt, r.data))
        return 1;
    if (!opt.expect.empty()) {
        const std::string diff = FirstDifference(r.data, want);
        if (!diff.empty())
            return FailWith("received file differs from " + opt.expect + ": " + diff);
    }
    Report("PASS ymodem \"" + r.name + "\" " + std::to_string(r.data.size()) + " bytes sha256 " + sha);
    return 0;
}

}  // namespace

int RunImageSession(Line& line, Faults& faults, const Options& opt)
{
    if (opt.ymodemOnly)
        return RunYmodemOnly(line, faults, opt);

    ExpectedImage want;
    const bool checking = !opt.expect.empty();
    if (checking) {
        std::vector<std::uint8_t> file;
        std::string err;
        if (!ReadWholeFile(opt.expect, file, err) || !ExpectImage(file, want, err))
            return FailWith(err);
        if (!want.magicValid)
            Report("note: " + opt.expect + " has no valid magic; the engine should reject it");
    }

    YmodemResult r;
    std::uint8_t word[4] = {0, 0, 0, 0};
    bool rebooted = false;
    for (long attempt = 0;;) {
        Handshake(line, faults, kDataDlStart, {0x02, 0xAB, 0xAC, 0x03}, rebooted ? kRebootFrameMs : kStartFrameMs);
        SendFrame(line, faults, kDataDlService);
        bool gotWord = true;
        for (auto& b : word) {
            const int c = line.Get(kServiceByteMs);
            if (c < 0) {
                gotWord = false;
                break;
            }
            b = static_cast<std::uint8_t>(c);
        }
        if (gotWord) {
            Report("service word " + Hex(word, 4));
            r = YmodemReceive(line, faults);
        } else {
            r = YmodemResult{};
            r.failure = "no service word after 02 B0 03";
        }
        faults.firstTransfer = false;
        if (r.ok)
            break;
        // A reboot is the box's own doing, not a failed attempt: it always
        // starts over, whatever --retries allows.
        rebooted = r.restart;
        if (rebooted)
            continue;
        if (attempt >= opt.retries || r.hungUp)
            return FailWith(r.failure);
        ++attempt;
        Report("transfer failed: " + r.failure + "; starting again (" + std::to_string(attempt) + " of " +
               std::to_string(opt.retries) + ")");
        line.DrainQuiet(500, 30000);
    }

    const std::string sha = Sha256Hex(r.data.data(), r.data.size());
    Report("image \"" + r.name + "\" announced " + std::to_string(r.announced) + " bytes, sha256 " + sha);
    if (!WriteOut(opt, r.data))
        return 1;
    if (r.data.size() % 1024 != 0)
        return FailWith("announced size " + std::to_string(r.announced) + " is not a multiple of 1024");
    if (checking) {
        if (std::equal(word, word + 4, want.serviceWord) == false)
            return FailWith("service word " + Hex(word, 4) + ", expected " + Hex(want.serviceWord, 4));
        if (r.announced != static_cast<long long>(want.padded.size()))
            return FailWith("block 0 announced " + std::to_string(r.announced) + " bytes, expected " +
                            std::to_string(want.padded.size()));
        const std::string diff = FirstDifference(r.data, want.padded);
        if (!diff.empty())
            return FailWith("image differs from " + opt.expect + ": " + diff);
    }
    Report("PASS image \"" + r.name + "\" " + std::to_string(r.data.size()) + " bytes service word " + Hex(word, 4) +
           " sha256 " + sha);
    return 0;
}

}  // namespace stbsim
