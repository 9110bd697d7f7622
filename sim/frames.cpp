// SPDX-License-Identifier: MIT
#include "frames.h"

#include <chrono>

#include "report.h"

namespace stbsim {
namespace {
constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEtx = 0x03;
constexpr std::uint8_t kWrongEtx = 0x04;
}  // namespace

void SendFrame(Line& line, Faults& faults, std::uint8_t command, const std::vector<std::uint8_t>& params)
{
    std::vector<std::uint8_t> frame;
    frame.push_back(kStx);
    frame.push_back(command);
    frame.insert(frame.end(), params.begin(), params.end());
    frame.push_back(kEtx);
    if (faults.badEtxPending) {
        faults.badEtxPending = false;
        std::vector<std::uint8_t> bad = frame;
        bad.back() = kWrongEtx;
        if (faults.opt.junkBeforeStx > 0)
            line.Put(Chatter(static_cast<std::size_t>(faults.opt.junkBeforeStx)));
        line.Put(bad.data(), bad.size());
        Report("sent frame " + Hex(bad.data(), bad.size()) + " (wrong last byte), sending it again");
    }
    if (faults.opt.junkBeforeStx > 0)
        line.Put(Chatter(static_cast<std::size_t>(faults.opt.junkBeforeStx)));
    line.Put(frame.data(), frame.size());
}

int Handshake(Line& line, Faults& faults, std::uint8_t startCommand, const std::vector<std::uint8_t>& answer,
              int periodMs)
{
    int sent = 0;
    std::vector<std::uint8_t> window;  // the last answer.size() bytes received
    for (;;) {
        // The box leads, but only into a line someone holds: start frames sent
        // before the peer opens its end would pile up for it or be lost.
        line.WaitForPeer();
        SendFrame(line, faults, startCommand);
        ++sent;
        const auto until = Line::Clock::now() + std::chrono::milliseconds(periodMs);
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - Line::Clock::now()).count();
            if (left <= 0)
                break;
            const int b = line.Get(static_cast<int>(left));
            if (b < 0)
                break;
            window.push_back(static_cast<std::uint8_t>(b));
            if (window.size() > answer.size())
                window.erase(window.begin());
            if (window == answer) {
                const std::size_t dropped = line.DrainQuiet(300, 10000);
                Report("handshake answered (" + Hex(answer.data(), answer.size()) + ") after " +
                       std::to_string(sent) + " start frame(s)" +
                       (dropped ? ", " + std::to_string(dropped) + " later byte(s) dropped" : ""));
                return sent;
            }
        }
    }
}

}  // namespace stbsim
