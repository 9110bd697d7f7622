// SPDX-License-Identifier: MIT
#include "transfer_check.h"

#include "../common/xmodem_crc.h"

#include <cstring>

namespace {

enum class Kind { Open, Data, Eot, Close };

struct Unit {
    Kind kind;
    uint8_t number = 0;
    std::vector<uint8_t> data;
    size_t first = 0;  // index of its first byte in the written stream
    size_t last = 0;   // index of its last byte
};

// The written stream cut into blocks and EOTs; "" or what did not parse.
std::string Parse(const std::vector<TimedByte>& w, size_t from, std::vector<Unit>* units)
{
    size_t i = from;
    while (i < w.size()) {
        const uint8_t head = w[i].byte;
        Unit u;
        u.first = i;
        if (head == 0x04) {
            u.kind = Kind::Eot;
            u.last = i;
            units->push_back(u);
            ++i;
            continue;
        }
        if (head != 0x01 && head != 0x02)
            return "byte 0x" + std::to_string(head) + " at offset " + std::to_string(i - from) +
                   " of a transfer called sent";
        const size_t len = head == 0x01 ? 128 : 1024;
        if (w.size() - i < len + 5)
            return "a block cut short";
        const uint8_t num = w[i + 1].byte, inv = w[i + 2].byte;
        std::vector<uint8_t> data;
        for (size_t k = 0; k < len; ++k)
            data.push_back(w[i + 3 + k].byte);
        const uint16_t crc = uint16_t((w[i + 3 + len].byte << 8) | w[i + 4 + len].byte);
        if (uint8_t(num + inv) != 0xFF || crc != XmodemCrc16(data.data(), len))
            return "a block with a bad number or CRC";
        u.number = num;
        u.last = i + 4 + len;
        if (head == 0x02)
            u.kind = Kind::Data;
        else
            u.kind = data[0] == 0 ? Kind::Close : Kind::Open;
        u.data = std::move(data);
        units->push_back(std::move(u));
        i += len + 5;
    }
    return "";
}

// True when the box's bytes that arrived after written byte `last` went out
// and before written byte `next` did hold `first` and, when given, `then`
// after it.
bool Answered(const std::vector<TimedByte>& arrived, size_t last, size_t next, uint8_t first, int then = -1)
{
    bool seen = false;
    for (const TimedByte& a : arrived) {
        if (a.after <= int64_t(last) || a.after > int64_t(next))
            continue;
        if (!seen) {
            seen = a.byte == first;
        } else if (then < 0 || a.byte == then) {
            return true;
        }
    }
    return seen && then < 0;
}

}  // namespace

std::string CheckSentTransfer(const std::vector<TimedByte>& written, size_t from,
                              const std::vector<TimedByte>& arrived, const std::vector<uint8_t>& image,
                              const std::string& name)
{
    std::vector<Unit> units;
    std::string bad = Parse(written, from, &units);
    if (!bad.empty())
        return bad;

    // The order of a whole batch: opening block 0 (resent as often as the
    // box asks), data blocks, EOTs, the closing block 0.
    size_t i = 0;
    auto run = [&](Kind k) {
        size_t n = 0;
        while (i < units.size() && units[i].kind == k) {
            ++i;
            ++n;
        }
        return n;
    };
    const size_t opens = run(Kind::Open);
    const size_t openEnd = i;
    const size_t datas = run(Kind::Data);
    const size_t dataEnd = i;
    const size_t eots = run(Kind::Eot);
    const size_t closes = run(Kind::Close);
    if (!opens || !datas || !eots || i != units.size())
        return "blocks out of order: " + std::to_string(opens) + " opening, " + std::to_string(datas) + " data, " +
               std::to_string(eots) + " EOT, " + std::to_string(closes) + " closing, of " +
               std::to_string(units.size());

    const size_t end = SIZE_MAX >> 1;
    auto next = [&](size_t k) { return k + 1 < units.size() ? units[k + 1].first : end; };

    const Unit& open = units[openEnd - 1];
    const std::string announced = name + std::string(1, '\0') + std::to_string(image.size());
    if (open.number != 0 || memcmp(open.data.data(), announced.data(), announced.size()) != 0)
        return "the opening block 0 does not announce " + name + " of " + std::to_string(image.size());
    if (!Answered(arrived, open.last, next(openEnd - 1), 0x06, 'C'))
        return "data sent before the box acknowledged block 0 and asked with 'C'";

    // Data: a block may go out again at once (a resend); otherwise the
    // numbers count up from 1 and each one must have been acknowledged.
    std::vector<uint8_t> got;
    uint8_t expect = 1;
    for (size_t k = openEnd; k < dataEnd; ++k) {
        const Unit& u = units[k];
        const bool resend = k + 1 < dataEnd && units[k + 1].number == u.number;
        if (resend) {
            if (units[k + 1].data != u.data)
                return "block " + std::to_string(u.number) + " resent with other data";
            continue;
        }
        if (u.number != expect)
            return "block " + std::to_string(u.number) + " where " + std::to_string(expect) + " was due";
        if (!Answered(arrived, u.last, next(k), 0x06))
            return "block " + std::to_string(u.number) + " (data block " + std::to_string(got.size() / 1024 + 1) +
                   ") never acknowledged";
        got.insert(got.end(), u.data.begin(), u.data.end());
        ++expect;
    }
    if (got != image)
        return "the acknowledged blocks carry " + std::to_string(got.size()) + " bytes that are not the image of " +
               std::to_string(image.size());

    // The end and close phases do not decide the verdict: a box may stay
    // silent or NAK there and still hold every block (its CAN there is a
    // refusal, which the unit tests cover). The EOT must have gone out.
    if (closes && units.back().number != 0)
        return "closing block with number " + std::to_string(units.back().number);
    return "";
}
