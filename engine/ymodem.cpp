// SPDX-License-Identifier: MIT
// YMODEM-1K sender: one file from memory per batch. The receiver sets the
// pace with 'C', ACK, NAK and CAN. A block goes out in one PortWrite, the
// single control bytes through PortPutByte; every reply is awaited in ticks.
//
// A reply belongs to what was just sent. Whatever the line holds before a
// block, an EOT or a block 0 goes out (a second ACK from a noisy return
// line, the NAKs a receiver sent on its own time-outs while this host was
// paused, echoes) is thrown away first, so the byte read afterwards is the
// receiver's answer to this send and never a stale one. Taking a stale ACK
// for the answer would move on past a block the receiver refused, and the
// sender could end up one reply behind for the rest of the file.
#include "ymodem.h"

#include "engine.h"
#include "serial_link.h"
#include "session.h"

#include <cstdio>
#include <cstring>

uint8_t g_ymodemBlock[1027];

namespace {

constexpr int kHeaderTries = 100;  // 'C' tries per block 0 attempt
constexpr int kHeaderTryTicks = 500;
constexpr int kHeaderReplyTicks = 5000;
constexpr int kHeaderAttempts = 10;
constexpr int kBlockReplyTicks = 2000;
constexpr int kEotReplyTicks = 1000;
constexpr int kMaxNaks = 5;
// After a block that went out more than once: how long the line must stay
// quiet, once our last copy has left, before the next block goes out.
constexpr int kSettleTicks = 10;
constexpr int kSettleMaxBytes = 64;
constexpr int kMaxEots = 9;

// A reply wait that came back empty: was it the silence of the line, or
// did the session have to give up (operator's stop, lost port)?
int Silent()
{
    return PortInterrupted() ? YM_STOPPED : 1;
}

// One block on the line: header, data and CRC (high byte first) in a
// single write, so that a USB adapter gets one transfer rather than a
// thousand. The CRC starts afresh for every sending.
void PutBlock(const uint8_t head[3], const uint8_t* data, int length)
{
    uint8_t frame[3 + 1024 + 2];
    if (length < 0 || length > 1024)
        return;  // no such block: nothing goes out, the reply wait fails it
    PortDiscardInput(g_enginePort);
    memcpy(frame, head, 3);
    memcpy(frame + 3, data, size_t(length));
    uint32_t crc = 0;
    for (int i = 0; i < length; ++i)
        crc = Crc16Update(data[i], crc);
    frame[3 + length] = uint8_t(crc >> 8);
    frame[4 + length] = uint8_t(crc);
    PortWrite(g_enginePort, frame, uint32_t(length + 5));
}

}  // namespace

uint32_t Crc16Update(uint32_t byte, uint32_t crc)
{
    crc ^= (byte & 0xFF) << 8;
    for (int i = 0; i < 8; ++i)
        crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
    return crc & 0xFFFF;
}

int YmodemMakeBlock(const uint8_t* source, uint8_t* block, int length, uint8_t number)
{
    if (length == 0) {
        block[0] = YM_EOT;
        return 0;
    }
    block[0] = length == 128 ? YM_SOH : YM_STX;
    block[1] = number;
    block[2] = uint8_t(255 - number);
    memcpy(block + 3, source, size_t(length));
    return 0;
}

int YmodemSendHeader(const char* name, int size, bool closing)
{
    uint8_t data[128];
    memset(data, 0, sizeof data);
    size_t nameLen = strnlen(name, sizeof data - 2);
    memcpy(data, name, nameLen);
    snprintf(reinterpret_cast<char*>(data) + nameLen + 1, sizeof data - nameLen - 1, "%d", size);

    bool ready = false;
    // The last three bytes seen, to catch the box's opening frame.
    uint32_t recent = 0;
    for (int tryNo = 0; tryNo < kHeaderTries && !ready; ++tryNo) {
        uint8_t b = 0;
        if (PortGetByte(&b, kHeaderTryTicks) != 0) {
            if (PortInterrupted())
                return YM_STOPPED;
            continue;
        }
        // After the file, a CAN instead of the 'C' is the receiver refusing
        // what it got; before it, any stray byte only uses up a try.
        if (closing && b == YM_CAN)
            return YM_RX_CANCELLED;
        // A box that rebooted opens the session again, once a second, and
        // will never send the 'C' this wait is for: the transfer is over,
        // and the session answers the frame at once rather than after a
        // hundred tries.
        recent = ((recent << 8) | b) & 0xFFFFFF;
        if (recent == (uint32_t(FRAME_STX) << 16 | uint32_t(DATA_DL_START) << 8 | FRAME_ETX))
            return YM_BOX_RESTARTED;
        ready = b == YM_CRC;
    }
    if (!ready)
        return 1;

    const uint8_t head[3] = {YM_SOH, 0x00, 0xFF};
    PutBlock(head, data, 128);

    uint8_t reply = 0;
    if (PortGetByte(&reply, kHeaderReplyTicks) != 0)
        return Silent();
    if (reply != YM_ACK)
        return closing && reply == YM_CAN ? YM_RX_CANCELLED : YM_NOT_ACKED;
    // The closing block 0 acknowledged ends the batch; a standard receiver
    // sends nothing more, and a 'C' that does come is simply left unread.
    if (closing)
        return 0;
    reply = 0;
    if (PortGetByte(&reply, kHeaderReplyTicks) != 0)
        return Silent();
    return reply == YM_CRC ? 0 : 1;
}

namespace {

// A block that went out again may be answered once per copy: a NAK that
// crossed the first copy on the line (the receiver's own time-out) makes us
// send it twice, and the receiver acknowledges both. The ACK just read may
// be the first copy's; the second copy's comes only once that copy has left
// our queue and reached the receiver. Let it come and drop it, so that it is
// not taken for the answer to the next block. Only resends pay this wait.
void LetLateAnswersPass()
{
    PortDrainOutput(g_enginePort, kBlockReplyTicks);
    uint8_t late = 0;
    for (int n = 0; n < kSettleMaxBytes && PortGetByte(&late, kSettleTicks) == 0; ++n) {
    }
}

}  // namespace

int YmodemSendBlock(const uint8_t* block, int length)
{
    int naks = 0;
    for (;;) {
        PutBlock(block, block + 3, length);

        uint8_t reply = 0;
        if (PortGetByte(&reply, kBlockReplyTicks) != 0)
            return Silent() == YM_STOPPED ? YM_STOPPED : 2;
        if (reply == YM_ACK) {
            if (naks > 0)
                LetLateAnswersPass();
            return 0;
        }
        if (reply == YM_CAN)
            return 1;
        if (reply != YM_NAK)
            return 2;
        if (++naks == kMaxNaks) {
            PortPutByte(YM_CAN);
            PortPutByte(YM_CAN);
            return 1;
        }
    }
}

int YmodemSendEot()
{
    int sent = 0;
    uint8_t reply;
    do {
        PortDiscardInput(g_enginePort);
        PortPutByte(YM_EOT);
        ++sent;
        reply = 0;
        if (PortGetByte(&reply, kEotReplyTicks) != 0)
            return Silent() == YM_STOPPED ? YM_STOPPED : 0;
        // The receiver has every block but refuses the file (a failed
        // check of the whole image): the transfer failed.
        if (reply == YM_CAN)
            return YM_RX_CANCELLED;
    } while (reply == YM_NAK && sent < kMaxEots);
    return 0;
}

namespace {

// The operator stopped a transfer that has begun: tell the receiver at once
// rather than leave it to its own time-outs. A lost port hears nothing.
int Stopped()
{
    if (!g_bEngineLineLost.load()) {
        PortPutByte(YM_CAN);
        PortPutByte(YM_CAN);
    }
    return 1;
}

int Failed(int result = 1)
{
    EngineLog(LOG_ERROR, "Send File Failed!!\r\n");
    return result;
}

}  // namespace

int YmodemSendFile(const char* name, const uint8_t* data, uint32_t size)
{
    // An empty buffer holds no block to send and no share to report.
    if (size == 0)
        return 1;

    for (int attempt = 1;; ++attempt) {
        const int r = YmodemSendHeader(name, int(size));
        if (r == 0)
            break;
        if (r == YM_STOPPED)
            return Stopped();
        if (r == YM_BOX_RESTARTED)
            return Failed(YM_BOX_RESTARTED);
        if (attempt == kHeaderAttempts)
            return 1;
    }

    uint8_t number = 1;
    uint32_t offset = 0;
    for (;;) {
        YmodemMakeBlock(data + offset, g_ymodemBlock, 1024, number);
        const int r = YmodemSendBlock(g_ymodemBlock, 1024);
        if (r == YM_STOPPED)
            return Stopped();
        if (r != 0)
            return Failed();
        ++number;
        offset += 1024;
        EngineReportProgress(offset, size);
        if (offset >= size)
            break;
        if (PortInterrupted())
            return Stopped();
    }

    // Every data block is acknowledged. NAKed or unanswered EOTs still lead
    // to the close, as boxes rely on; a CAN is the box refusing the image.
    int r = YmodemSendEot();
    // A closing block the box answers with NAK (a bit error on the line) is
    // sent again at its next 'C', as the opening one is; leaving it there
    // would leave a box that holds every block still waiting for the end of
    // the batch. A box that goes quiet instead ends the close as before.
    for (int attempt = 1; r == 0; ++attempt) {
        r = YmodemSendHeader("", 0, true);
        if (r != YM_NOT_ACKED)
            break;
        if (attempt == kHeaderAttempts)
            return Failed();  // the box refused every closing block
        r = 0;
    }
    if (r == YM_STOPPED)
        return Stopped();
    if (r == YM_RX_CANCELLED)
        return Failed();
    if (r == YM_BOX_RESTARTED)
        return Failed(YM_BOX_RESTARTED);
    return 0;
}
