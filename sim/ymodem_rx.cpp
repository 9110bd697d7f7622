// SPDX-License-Identifier: MIT
#include "ymodem_rx.h"

#include "codec.h"
#include "report.h"

namespace stbsim {
namespace {

constexpr std::uint8_t kSoh = 0x01, kStx = 0x02, kEot = 0x04, kAck = 0x06, kNak = 0x15, kCan = 0x18, kC = 'C';
constexpr int kByteMs = 1000;       // longest gap inside a block
constexpr int kPurgeQuietMs = 300;  // a sender that has finished a block is this quiet
constexpr int kCTries = 10;         // 'C' sent once a second, this many times
constexpr int kDataWaitMs = 5000;   // a data block or EOT is expected within this
constexpr int kDataTimeouts = 10;
// The engine waits 20 s for the answer to a data block; the silent fault
// outlasts that so that the engine really gives up by time-out.
constexpr int kSilentMs = 22000;

enum class Rx { Block, Bad, Eot, Cancel, Silence };

struct Packet {
    std::uint8_t number = 0;
    std::vector<std::uint8_t> data;
    std::string why;  // for Bad
};

// Waits up to waitMs for a packet; bytes that cannot start one are skipped.
Rx ReadPacket(Line& line, int waitMs, Packet& p)
{
    const auto until = Line::Clock::now() + std::chrono::milliseconds(waitMs);
    int header = -1;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Line::Clock::now()).count();
        if (left <= 0)
            return Rx::Silence;
        const int b = line.Get(static_cast<int>(left));
        if (b < 0)
            return Rx::Silence;
        if (b == kSoh || b == kStx || b == kEot || b == kCan) {
            header = b;
            break;
        }
    }
    if (header == kEot) {
        // A real EOT is followed by silence while the sender waits for its
        // answer; a byte right behind it means it was part of something else.
        if (line.Get(kPurgeQuietMs) < 0)
            return Rx::Eot;
        line.DrainQuiet(kPurgeQuietMs, 10000);
        p.why = "stray EOT inside other bytes";
        return Rx::Bad;
    }
    if (header == kCan) {
        line.DrainQuiet(kPurgeQuietMs, 2000);  // the second CAN, if any
        return Rx::Cancel;
    }
    const std::size_t len = header == kSoh ? 128 : 1024;
    std::vector<std::uint8_t> raw(2 + len + 2);
    for (auto& byte : raw) {
        const int b = line.Get(kByteMs);
        if (b < 0) {
            p.why = "block cut short";
            return Rx::Bad;
        }
        byte = static_cast<std::uint8_t>(b);
    }
    if (static_cast<std::uint8_t>(raw[0] + raw[1]) != 0xFF) {
        line.DrainQuiet(kPurgeQuietMs, 10000);
        p.why = "block number " + std::to_string(raw[0]) + " with complement " + std::to_string(raw[1]);
        return Rx::Bad;
    }
    const std::uint16_t crc = Crc16Xmodem(raw.data() + 2, len);
    const std::uint16_t got = static_cast<std::uint16_t>((raw[2 + len] << 8) | raw[3 + len]);
    if (crc != got) {
        line.DrainQuiet(kPurgeQuietMs, 10000);
        p.why = "CRC mismatch in block " + std::to_string(raw[0]);
        return Rx::Bad;
    }
    p.number = raw[0];
    p.data.assign(raw.begin() + 2, raw.begin() + 2 + static_cast<long>(len));
    return Rx::Block;
}

// Block 0: the name, a NUL, the size in decimal, then maybe more fields.
void ParseBlock0(const std::vector<std::uint8_t>& d, std::string& name, long long& size)
{
    std::size_t i = 0;
    while (i < d.size() && d[i] != 0)
        name += static_cast<char>(d[i++]);
    ++i;
    std::string rest;
    while (i < d.size() && d[i] != 0 && d[i] != ' ')
        rest += static_cast<char>(d[i++]);
    if (!ParseDecimal(rest, size))
        size = -1;
}

// The box sat on block k for sec seconds (busy, or its sender's line
// stalled): its receive timer ran on and queued a NAK at every time-out,
// and all of them leave with the ACK in one burst.
void AnswerAfterPause(Line& line, long long k, long sec)
{
    line.Hold(static_cast<int>(sec * 1000));
    const long naks = sec * 1000 / kDataWaitMs;
    std::vector<std::uint8_t> burst(static_cast<std::size_t>(naks), kNak);
    burst.push_back(kAck);
    line.PutBurst(burst);
    Report("held block " + std::to_string(k) + " for " + std::to_string(sec) + " s, then answered " +
           std::to_string(naks) + " time-out NAK(s) and the ACK in one burst (injected)");
}

// Asking for a block 0: 'C' once a second, given up after kCTries without
// an answer. A NAK just sent asks for the block again in place of the 'C'.
struct AskWithC {
    int tries = 0;
    bool sendC = true;

    // False when the tries are spent.
    bool Next(Line& line)
    {
        if (sendC) {
            if (++tries > kCTries)
                return false;
            line.Put(kC);
        }
        sendC = true;
        return true;
    }
    void Nak(Line& line)
    {
        line.Put(kNak);
        sendC = false;
    }
};

void Cancel(Line& line)
{
    const std::uint8_t cans[] = {kCan, kCan};
    line.Put(cans, sizeof cans);
}

YmodemResult Fail(YmodemResult r, const std::string& why)
{
    r.ok = false;
    r.failure = why;
    return r;
}

// The box reboots in the middle of the batch: what it has is lost, and the
// session starts again from its start frame.
YmodemResult Reboot(YmodemResult r, const std::string& where)
{
    Report("rebooting " + where + " (injected)");
    r.restart = true;
    r.data.clear();
    return Fail(r, "rebooted " + where + " (injected)");
}

}  // namespace

YmodemResult YmodemReceive(Line& line, Faults& faults)
{
    YmodemResult r;
    const bool inject = faults.firstTransfer;

    // Header phase: 'C' until block 0 arrives.
    bool block0Naked = false;
    AskWithC ask;
    if (inject && faults.opt.restartAtC == RestartAt::Open)
        return Reboot(r, "instead of the opening 'C'");
    if (inject && faults.opt.junkBeforeC > 0) {
        line.Put(JunkNotC(static_cast<std::size_t>(faults.opt.junkBeforeC)));
        Report("sent " + std::to_string(faults.opt.junkBeforeC) + " junk byte(s) before the first 'C'");
    }
    for (;;) {
        if (!ask.Next(line))
            return Fail(r, "no block 0 after " + std::to_string(kCTries) + " 'C'");
        Packet p;
        const Rx rx = ReadPacket(line, 1000, p);
        if (rx == Rx::Silence)
            continue;
        if (rx == Rx::Cancel)
            return Fail(r, "sender cancelled before block 0");
        if (rx == Rx::Eot) {
            line.Put(kAck);
            continue;
        }
        ask.tries = 0;
        if (rx == Rx::Bad || p.number != 0) {
            Report("NAK block 0: " + (rx == Rx::Bad ? p.why : "data block " + std::to_string(p.number) + " first"));
            ask.Nak(line);
            continue;
        }
        if (inject && faults.opt.nakBlock0 && !block0Naked) {
            block0Naked = true;
            ask.Nak(line);
            Report("NAK block 0 (injected)");
            continue;
        }
        ParseBlock0(p.data, r.name, r.announced);
        if (r.name.empty()) {
            line.Put(kAck);
            line.Put(kC);
            return Fail(r, "batch closed before any file");
        }
        Report("block 0: name \"" + r.name + "\" size " + std::to_string(r.announced));
        if (inject && faults.opt.dupAckBlock == 1) {
            line.PutBurst({kAck, kC, kAck});
            Report("answered block 0 with ACK 'C' and an extra ACK (injected)");
        } else {
            line.Put(kAck);
            line.Put(kC);
        }
        break;
    }

    // Data phase.
    long long count = 0;  // distinct data blocks received
    long nakGiven = 0;
    bool dupAckNaked = false;
    bool eotNaked = false;
    int silences = 0;
    for (;;) {
        Packet p;
        const Rx rx = ReadPacket(line, kDataWaitMs, p);
        if (rx == Rx::Silence) {
            if (++silences > kDataTimeouts)
                return Fail(r, "sender went silent after block " + std::to_string(count));
            line.Put(kNak);
            continue;
        }
        silences = 0;
        if (rx == Rx::Cancel)
            return Fail(r, "sender cancelled after " + std::to_string(count) + " data block(s)");
        if (rx == Rx::Bad) {
            Report("NAK: " + p.why);
            line.Put(kNak);
            continue;
        }
        if (rx == Rx::Eot) {
            if (!eotNaked) {
                eotNaked = true;
                line.Put(kNak);
                continue;
            }
            line.Put(kAck);
            break;
        }
        const std::uint8_t expected = static_cast<std::uint8_t>(count + 1);
        if (count == 0 && p.number == 0) {
            // Block 0 again: the sender missed our ACK or 'C'.
            line.Put(kAck);
            line.Put(kC);
            continue;
        }
        if (count > 0 && p.number == static_cast<std::uint8_t>(count)) {
            line.Put(kAck);  // a repeat of the block just taken
            continue;
        }
        if (p.number != expected) {
            Cancel(line);
            return Fail(r,
                        "block " + std::to_string(p.number) + " out of order, expected " + std::to_string(expected));
        }
        const long long k = count + 1;
        if (inject && k == faults.opt.canBlock) {
            line.Put(kCan);
            Report("answered block " + std::to_string(k) + " with CAN (injected)");
            return Fail(r, "transfer cancelled at block " + std::to_string(k) + " (injected)");
        }
        if (inject && k == faults.opt.silentBlock) {
            Report("no answer to block " + std::to_string(k) + " (injected)");
            line.Linger(kSilentMs);
            r.leftSilent = true;
            return Fail(r, "block " + std::to_string(k) + " left unanswered (injected)");
        }
        if (inject && k == faults.opt.restartBlock)
            return Reboot(r, "on block " + std::to_string(k));
        if (inject && k == faults.opt.dupAckBlock && !dupAckNaked) {
            // The block behind the duplicate ACK: it "arrived damaged".
            dupAckNaked = true;
            line.Put(kNak);
            Report("NAK block " + std::to_string(k) + " after the duplicate ACK (injected)");
            continue;
        }
        if (inject && k == faults.opt.hangUpBlock) {
            Report("hung up on block " + std::to_string(k) + " (injected)");
            line.Close();
            r.hungUp = true;
            return Fail(r, "line hung up at block " + std::to_string(k) + " (injected)");
        }
        if (inject && k == faults.opt.nakBlock && nakGiven < faults.opt.nakCount) {
            ++nakGiven;
            line.Put(kNak);
            Report("NAK block " + std::to_string(k) + " (injected, " + std::to_string(nakGiven) + " of " +
                   std::to_string(faults.opt.nakCount) + ")");
            continue;
        }
        r.data.insert(r.data.end(), p.data.begin(), p.data.end());
        count = k;
        if (inject && k == faults.opt.pauseBlock) {
            AnswerAfterPause(line, k, faults.opt.pauseSec);
        } else if (inject && k + 1 == faults.opt.dupAckBlock) {
            line.PutBurst({kAck, kAck});
            Report("ACKed block " + std::to_string(k) + " twice (injected)");
        } else {
            line.Put(kAck);
        }
    }

    // Close phase: 'C' for the next block 0, which must be the empty one.
    if (inject && faults.opt.restartAtC == RestartAt::Close)
        return Reboot(r, "instead of the closing 'C'");
    AskWithC askClose;
    for (;;) {
        if (!askClose.Next(line))
            return Fail(r, "no closing block 0 after " + std::to_string(kCTries) + " 'C'");
        Packet p;
        const Rx rx = ReadPacket(line, 1000, p);
        if (rx == Rx::Silence)
            continue;
        if (rx == Rx::Cancel)
            return Fail(r, "sender cancelled before the closing block 0");
        if (rx == Rx::Eot) {
            line.Put(kAck);  // a repeated EOT: it missed our ACK
            askClose.sendC = false;
            continue;
        }
        if (rx == Rx::Bad || p.number != 0) {
            askClose.Nak(line);
            continue;
        }
        std::string name;
        long long size = -1;
        ParseBlock0(p.data, name, size);
        if (!name.empty()) {
            Cancel(line);
            return Fail(r, "batch holds a second file \"" + name + "\"");
        }
        // The engine waits for this 'C' before it calls the transfer done.
        line.Put(kAck);
        line.Put(kC);
        line.Linger(500);
        break;
    }

    Report("received " + std::to_string(count) + " data block(s), " + std::to_string(r.data.size()) + " bytes");
    if (r.announced < 0)
        return Fail(r, "block 0 announced no size");
    if (static_cast<long long>(r.data.size()) < r.announced)
        return Fail(r, "received " + std::to_string(r.data.size()) + " bytes, fewer than the announced " +
                           std::to_string(r.announced));
    r.data.resize(static_cast<std::size_t>(r.announced));
    r.ok = true;
    return r;
}

}  // namespace stbsim
