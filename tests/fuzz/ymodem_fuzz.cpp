// SPDX-License-Identifier: MIT
// The YMODEM-1K sender against arbitrary reply streams.
//
// Input: a flags byte, then the receiver's records (see box_script.h).
//   flags bits 0-1  image size: 1, 2, 5 or 300 blocks
//   flags bits 2-3  quiet time before the operator's stop: 20, 300, 2500, 6000 ticks
//   flags bit 4     a transmit queue draining 115 bytes a tick
//
// Rules: the sender returns, within 100 ticks of a stop; it reports the
// file sent (0) only when every block and the closing block 0 were
// acknowledged after they went out and the blocks carry exactly the image;
// a stop ends it with CAN CAN to the receiver.
#include "box_script.h"
#include "fuzz_check.h"
#include "fuzz_input.h"
#include "transfer_check.h"

#include "engine.h"
#include "serial_link.h"
#include "ymodem.h"

#include <string>
#include <vector>

namespace {

int QuietLog(const char*, int)
{
    return 0;
}
void QuietEcho(const uint8_t*, uint32_t) {}

const std::vector<uint8_t>& Image(int blocks)
{
    static std::vector<uint8_t> images[4];
    static const int counts[4] = {1, 2, 5, 300};
    for (int i = 0; i < 4; ++i) {
        if (counts[i] != blocks)
            continue;
        if (images[i].empty()) {
            images[i].resize(size_t(blocks) * 1024);
            uint32_t x = 0x1234567u + uint32_t(blocks);
            for (uint8_t& b : images[i]) {
                x = x * 1103515245u + 12345u;
                b = uint8_t(x >> 16);
            }
        }
        return images[i];
    }
    abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const int kBlocks[4] = {1, 2, 5, 300};
    static const int64_t kQuiet[4] = {20, 300, 2500, 6000};

    FuzzInput in(data, size);
    const uint8_t flags = in.Byte();
    const std::vector<uint8_t>& image = Image(kBlocks[flags & 3]);

    BoxLine line;
    g_engineState = 0;
    g_enginePort = &line;
    g_pfnLogSink = QuietLog;
    g_pfnProgressSink = nullptr;
    g_pfnEchoSink = QuietEcho;
    g_bEngineLineLost = 0;
    PortResetLostWatch();
    if (flags & 16)
        line.SetTransmitRate(115);

    BoxScript script(line, ReadBoxRecords(in), BoxScript::Pace::Answer, kQuiet[(flags >> 2) & 3]);
    script.Start();
    const int r = YmodemSendFile("VELTO", image.data(), uint32_t(image.size()));
    const int64_t end = line.Now();
    g_enginePort = nullptr;
    g_engineState = 0;

    FUZZ_CHECK(!script.livelock, "the sender kept the line busy long after the receiver went quiet");
    if (script.stopAt >= 0)
        FUZZ_CHECK(end - script.stopAt <= 100,
                   "the sender took " + std::to_string(end - script.stopAt) + " ticks to stop");
    if (r == 0) {
        const std::string why = CheckSentTransfer(line.written, 0, line.arrived, image, "VELTO");
        FUZZ_CHECK(why.empty(), "sent reported for a transfer the receiver did not get whole: " + why);
    } else if (script.stopAt >= 0) {
        // A stop in any wait tells the receiver at once.
        const auto& w = line.written;
        FUZZ_CHECK(w.size() >= 2 && w[w.size() - 1].byte == 0x18 && w[w.size() - 2].byte == 0x18,
                   "a transfer stopped by the operator did not end with CAN CAN");
    }
    return 0;
}
