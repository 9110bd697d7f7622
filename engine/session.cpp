// SPDX-License-Identifier: MIT
// The session with the set-top box. The box leads: it sends framed
// commands (STX, code, parameters, ETX) and the engine answers each one,
// until the image has been sent or the operator stops the download.
#include "session.h"

#include "engine.h"
#include "file_position.h"
#include "image_file.h"
#include "serial_link.h"
#include "time_reply.h"
#include "ymodem.h"

#include <cstdio>
#include <cstdlib>

// Large enough for the largest length the 16-bit request field can carry.
static uint8_t g_chunkBuffer[65536];

int ReceiveCommand(uint8_t* code, uint8_t* params)
{
    if (PortWaitFor(g_enginePort, FRAME_STX, 1000) == 0)
        return 1;
    *code = PortReceiveByte(g_enginePort, 1000);
    if (*code == STB_DATA_REQ) {
        // A missing parameter byte counts as 0; the frame still has to end
        // in ETX to be taken.
        for (int i = 0; i < DATA_REQ_PARAMS; ++i)
            params[i] = PortReceiveByte(g_enginePort, 100);
    }
    return PortReceiveByte(g_enginePort, 100) == FRAME_ETX ? 0 : 1;
}

int SendFrame(uint8_t code, const uint8_t* payload, int length)
{
    const uint8_t stx = FRAME_STX, etx = FRAME_ETX;
    PortWrite(g_enginePort, &stx, 1);
    PortWrite(g_enginePort, &code, 1);
    if (length != 0)
        PortWrite(g_enginePort, payload, static_cast<uint32_t>(length));
    PortWrite(g_enginePort, &etx, 1);
    return 0;
}

int SendImageChunk(uint32_t offset, uint16_t length)
{
    // A file position, not a long: offsets of 2 GiB and above must reach
    // the seek intact, and a seek that fails sends nothing.
    if (FileSeek(g_engineFile, int64_t(offset), SEEK_SET) != 0)
        return 0;
    size_t n = fread(g_chunkBuffer, 1, length, g_engineFile);
    if (n == 0)
        return 0;
    // The box's receive buffer is small: hand over 256 bytes at a time,
    // each once the previous piece has left the transmit queue.
    size_t pos = 0;
    // A stop or a lost port ends the chunk between pieces: at 2400 bit/s a
    // whole request is minutes on the line.
    while (pos < n && !PortInterrupted()) {
        size_t piece = n - pos < SESSION_PIECE ? n - pos : SESSION_PIECE;
        PortDrainOutput(g_enginePort, 1000);
        const uint32_t put = PortWrite(g_enginePort, g_chunkBuffer + pos, static_cast<uint32_t>(piece));
        // A port that is gone takes nothing more; the listening wait then
        // decides whether it stays gone.
        if (put < piece && g_enginePort && g_enginePort->LostReason())
            break;
        pos += piece;
    }
    return 0;
}

namespace {

// What the box has reached, told once each per session: a controller needs
// to know that a box is there, and that it has begun to take a download
// (from then on a lost line leaves it with part of one).
class CStageReports {
public:
    void Reach(EngineStage stage)
    {
        bool& bDone = stage == EngineStage::Box ? m_bBox : m_bTransfer;
        if (bDone)
            return;
        bDone = true;
        EngineReportStage(stage);
    }

private:
    bool m_bBox = false;
    bool m_bTransfer = false;
};

}  // namespace

static void AnswerServed(uint8_t code, const uint8_t* params, CStageReports& stages)
{
    switch (code) {
    case STB_START: {
        EngineLog(LOG_INFO, "[VUMO] => STB_START\r\n");
        SendFrame(STB_START, &VUMO_START_PAYLOAD, 1);
        EngineLog(LOG_INFO, "[VUMO] <= VUMO_START\r\n");
        break;
    }
    case STB_DATA_REQ: {
        uint16_t length = static_cast<uint16_t>(params[0] | (params[1] << 8));
        uint32_t offset = uint32_t(params[2]) | (uint32_t(params[3]) << 8) | (uint32_t(params[4]) << 16) |
                          (uint32_t(params[5]) << 24);
        SendImageChunk(offset, length);
        stages.Reach(EngineStage::Transfer);
        break;
    }
    case STB_TIME_REQ:
        EngineLog(LOG_INFO, "[VUMO] => STB_TIME_REQ\r\n");
        SendTimeReply();
        EngineLog(LOG_INFO, "[VUMO] <= VUMO_TIME_REP\r\n");
        break;
    case DATA_DL_START:
        break;  // the image download's opening: not ours to answer
    default:
        EngineLog(LOG_ERROR, "[VUMO] Unknown STB command 0x%02X.\r\n", code);
        break;
    }
}

int RunSession()
{
    ImageLoad image{};
    const bool imageMode = g_bEngineImageMode != 0;
    if (imageMode && LoadImageFile(&image) != 0)
        return 1;
    if (imageMode && g_pfnImageSink)
        g_pfnImageSink(image.buffer, image.size);
    // A served file is read where the box asks, as it is at that moment: a
    // stream buffer would hand out bytes of a file since truncated or
    // replaced, even past its new end. Each request is one read anyway.
    if (!imageMode && g_engineFile)
        setvbuf(g_engineFile, nullptr, _IONBF, 0);

    uint8_t code = 0;
    uint8_t params[DATA_REQ_PARAMS] = {0};
    // The box's opening frame, already read by a transfer it cut short by
    // starting over: answered first thing, without waiting for another.
    bool restartPending = false;
    CStageReports stages;
    // The last transfer failed on its own (not by a stop or a lost port):
    // a stop that follows ends a download that had already gone wrong.
    bool bTransferFailed = false;
    for (;;) {
        if (g_engineState.load() == ENGINE_ABORT) {
            EngineSetOutcome(bTransferFailed ? EngineOutcome::Failed : EngineOutcome::Stopped);
            EngineLog(LOG_NOTICE, "[VUMO] User break off\r\n");
            EngineReportProgress(0, image.size);
            free(image.buffer);
            return 0;
        }
        // The port is gone: nothing more can be said to the box, so the
        // engine ends the download on its own account, once.
        if (g_bEngineLineLost.load()) {
            EngineSetOutcome(EngineOutcome::LineLost);
            EngineLog(LOG_DONE, "Serial port lost! Abort Download\n");
            free(image.buffer);
            EngineReportProgress(0, image.size);
            return 0;
        }
        if (restartPending) {
            restartPending = false;
            code = DATA_DL_START;
        } else if (ReceiveCommand(&code, params) != 0) {
            continue;
        }
        stages.Reach(EngineStage::Box);
        if (!imageMode) {
            AnswerServed(code, params, stages);
            continue;
        }
        if (code == STB_START)
            continue;  // the served download's opening: ignored here
        if (code == DATA_DL_START) {
            EngineLog(LOG_INFO, "==>DATA_DL_START\r\n");
            SendFrame(DATA_DL_START_REP, &DATA_DL_START_PAYLOAD, 1);
            EngineLog(LOG_INFO, "<== DATA_DL_START\r\n");
            stages.Reach(EngineStage::Transfer);
            continue;
        }
        if (code != DATA_DL_SERVICE) {
            EngineLog(LOG_ERROR, "[VUMO] Unknown STB command 0x%02X.\r\n", code);
            continue;
        }
        // A box that asks for the service without the download start first
        // has begun all the same.
        stages.Reach(EngineStage::Transfer);
        for (uint8_t b : image.serviceWord)
            PortPutByte(b);
        EngineLog(LOG_INFO, "Start Service......\n");
        const int sent = YmodemSendFile("VELTO", image.buffer, image.size);
        if (sent == 0) {
            EngineSetOutcome(EngineOutcome::Sent);
            EngineLog(LOG_DONE, "Velto file send OK!\n");
            free(image.buffer);
            EngineReportProgress(0, image.size);
            return 0;
        }
        bTransferFailed = !PortInterrupted();
        // A failed transfer keeps the image: the box may ask again.
        restartPending = sent == YM_BOX_RESTARTED;
    }
}
