// SPDX-License-Identifier: MIT
// The session with the box, run with RunSession on the test thread over the
// virtual line; a stop request from the sleep hook ends it once the script
// has played out.
#include "engine_fixture.h"
#include "test_platform.h"

#include "file_position.h"

using namespace etest;

namespace {

const char kVersionLine[] = "Download File is valid, DL Version:1.2\n";
const char kBreakOff[] = "[VUMO] User break off\r\n";

time_t FixedClock(time_t* t)
{
    const time_t v = 1796560496;  // 2026-12-06 12:34:56 UTC
    if (t)
        *t = v;
    return v;
}

class Session : public EngineFixture {
protected:
    Bytes served = Pattern(80000, 3);
    Bytes payload = Pattern(3000, 4);
    TempFile servedFile{served};
    TempFile imageFile{ImageFileBytes(payload)};

    void SetUp() override
    {
        EngineFixture::SetUp();
        g_pfnEngineClock = FixedClock;
    }

    Bytes PaddedImage() const
    {
        Bytes b = payload;
        b.resize(3072, 0xFF);
        return b;
    }

    int Run(bool image, const Bytes& script = {}, int quiet = 3000)
    {
        UseFile(image ? imageFile.f : servedFile.f, image);
        if (!script.empty())
            Feed(script, 1);
        StopWhenQuiet(quiet);
        return RunSession();
    }
};

// ---------------------------------------------------------------------------

struct CommandCase {
    const char* name;
    bool image;
    Bytes frame;
    Bytes answer;
    std::vector<Entry> lines;  // between the opening lines and the abort line
};

TEST_F(Session, EachCommandInEachMode)
{
    const Bytes timeFrame = {0x02, 0x03, 0xEF, 0xC4, 0x12, 0x34, 0x56, 0x03};
    auto unknown = [](const char* hex) {
        return std::vector<Entry>{Log(std::string("[VUMO] Unknown STB command 0x") + hex + ".\r\n", LOG_ERROR)};
    };
    // clang-format off
    const CommandCase cases[] = {
        {"served STB_START", false, {0x02, 0x01, 0x03}, {0x02, 0x01, 0x0A, 0x03},
         {Log("[VUMO] => STB_START\r\n", LOG_INFO), Log("[VUMO] <= VUMO_START\r\n", LOG_INFO)}},
        {"served STB_TIME_REQ", false, {0x02, 0x03, 0x03}, timeFrame,
         {Log("[VUMO] => STB_TIME_REQ\r\n", LOG_INFO), Log("[VUMO] <= VUMO_TIME_REP\r\n", LOG_INFO)}},
        {"served DATA_DL_START ignored", false, {0x02, 0xAA, 0x03}, {}, {}},
        {"served DATA_DL_SERVICE unknown", false, {0x02, 0xB0, 0x03}, {}, unknown("B0")},
        {"served 0x05 unknown", false, {0x02, 0x05, 0x03}, {}, unknown("05")},
        {"served 0xAB upper case", false, {0x02, 0xAB, 0x03}, {}, unknown("AB")},
        {"image DATA_DL_START", true, {0x02, 0xAA, 0x03}, {0x02, 0xAB, 0xAC, 0x03},
         {Log("==>DATA_DL_START\r\n", LOG_INFO), Log("<== DATA_DL_START\r\n", LOG_INFO)}},
        {"image STB_START ignored", true, {0x02, 0x01, 0x03}, {}, {}},
        {"image STB_TIME_REQ unknown", true, {0x02, 0x03, 0x03}, {}, unknown("03")},
        {"image 0x05 unknown", true, {0x02, 0x05, 0x03}, {}, unknown("05")},
        {"image 0xFF unknown", true, {0x02, 0xFF, 0x03}, {}, unknown("FF")},
        // Command 0x02 carries its six parameters in either mode; an image
        // session reads them and only then calls the frame unknown.
        {"image STB_DATA_REQ unknown after its parameters", true,
         {0x02, 0x02, 0x00, 0x01, 0x00, 0x10, 0x00, 0x00, 0x03}, {}, unknown("02")},
        // Frames that do not end in ETX go without a word.
        {"served frame ending in 0x04", false, {0x02, 0x01, 0x04}, {}, {}},
        {"image frame ending in 0x02", true, {0x02, 0xAA, 0x02}, {}, {}},
        {"served data request ending in 0x00", false,
         {0x02, 0x02, 0x00, 0x01, 0x00, 0x10, 0x00, 0x00, 0x00}, {}, {}},
        // A frame cut after its STX: the code and the end byte time out.
        {"lone STX", false, {0x02}, {},
         {Log("[VUMO] Receive nothing in 10000ms.\r\n", LOG_ERROR),
          Log("[VUMO] Receive nothing in 1000ms.\r\n", LOG_ERROR)}},
    };
    // clang-format on
    for (const CommandCase& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualLine l;
        line.ClearWritten();
        // Each case gets a fresh line and a fresh run.
        g_enginePort = &l;
        ClearJournal();
        g_engineState = 0;
        int64_t last = 0;
        l.OnWrite([&](VirtualLine& v, const uint8_t*, uint32_t) { last = v.Now(); });
        l.OnSleep([&](VirtualLine& v) {
            if (v.Now() - last >= 3000)
                g_engineState = ENGINE_ABORT;
        });
        l.Feed(c.frame, 1);
        last = 1;
        UseFile(c.image ? imageFile.f : servedFile.f, c.image);
        EXPECT_EQ(RunSession(), 0);

        std::vector<Entry> want;
        if (c.image)
            want.push_back(Log(kVersionLine, LOG_INFO));
        want.insert(want.end(), c.lines.begin(), c.lines.end());
        want.push_back(Log(kBreakOff, LOG_NOTICE));
        want.push_back(Prog(0));
        EXPECT_EQ(Journal(), want);
        EXPECT_EQ(l.Written(), c.answer) << Hex(l.Written());
        EXPECT_EQ(l.Pending(), 0u);
    }
}

TEST_F(Session, BytesBeforeStxAreEchoedAndTheFrameIsAnswered)
{
    Feed({'h', 'e', 'l', 'l', 'o', 0x02, 0x01, 0x03}, 5);
    UseFile(servedFile.f, false);
    StopWhenQuiet();
    StdoutCapture echoed;
    RunSession();
    EXPECT_EQ(echoed.Take(), "hello");
    EXPECT_EQ(Written(), (Bytes{0x02, 0x01, 0x0A, 0x03}));
}

TEST_F(Session, ChunkRequests)
{
    struct Case {
        const char* name;
        uint32_t offset;
        uint16_t length;
        std::vector<size_t> pieces;  // sizes of the writes, in order
    };
    const uint32_t end = uint32_t(served.size());
    std::vector<size_t> full(255, 256);
    full.push_back(255);
    // clang-format off
    const Case cases[] = {
        {"256 at 4096", 4096, 256, {256}},
        {"300 at 4096", 4096, 300, {256, 44}},
        {"byte order of both fields", 0x00011234, 0x0123, {256, 35}},
        {"length 0", 4096, 0, {}},
        {"offset at the end", end, 256, {}},
        {"offset past the end", end + 1000, 256, {}},
        {"across the end", end - 100, 256, {100}},
        {"65535 at 0", 0, 65535, full},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualLine l;
        g_enginePort = &l;
        g_engineState = 0;
        ClearJournal();
        // The transmit queue drains 64 bytes a tick: every piece must find
        // it empty, that is the queue holds only that piece right after.
        l.SetTransmitRate(64);
        int64_t last = 1;
        std::vector<uint32_t> queuedAfter;
        l.OnWrite([&](VirtualLine& v, const uint8_t*, uint32_t) {
            last = v.Now();
            PortQueueStatus st{};
            v.QueueStatus(&st);
            queuedAfter.push_back(st.cbOutQue);
        });
        l.OnSleep([&](VirtualLine& v) {
            if (v.Now() - last >= 3000)
                g_engineState = ENGINE_ABORT;
        });
        l.Feed({0x02, 0x02, uint8_t(c.length), uint8_t(c.length >> 8), uint8_t(c.offset), uint8_t(c.offset >> 8),
                uint8_t(c.offset >> 16), uint8_t(c.offset >> 24), 0x03},
               1);
        UseFile(servedFile.f, false);
        EXPECT_EQ(RunSession(), 0);

        const auto calls = l.WriteCalls();
        ASSERT_EQ(calls.size(), c.pieces.size());
        Bytes sent;
        for (size_t i = 0; i < calls.size(); ++i) {
            EXPECT_EQ(calls[i].size(), c.pieces[i]) << "piece " << i;
            EXPECT_EQ(queuedAfter[i], calls[i].size()) << "piece " << i << " written before the queue drained";
            sent.insert(sent.end(), calls[i].begin(), calls[i].end());
        }
        if (!sent.empty()) {
            const Bytes want(served.begin() + c.offset, served.begin() + c.offset + long(sent.size()));
            EXPECT_TRUE(sent == want) << "wrong file bytes";
        }
        EXPECT_EQ(LogLines(), (std::vector<Entry>{Log(kBreakOff, LOG_NOTICE)}));
    }
}

TEST_F(Session, StuckTransmitQueueDelaysEachPieceByTheDrainBound)
{
    // 300 bytes at 0: two drains, the second of which gives up after 1000
    // ticks on a queue that never empties; the piece goes out all the same.
    line.SetTransmitRate(1);
    Feed({0x02, 0x02, 0x2C, 0x01, 0x00, 0x00, 0x00, 0x00, 0x03}, 1);
    std::vector<int64_t> at;
    respond = [&](const uint8_t*, uint32_t) {
        at.push_back(line.Now());
        line.SetTransmitStuck(true);
    };
    UseFile(servedFile.f, false);
    StopWhenQuiet();
    RunSession();
    ASSERT_EQ(at.size(), 2u);
    EXPECT_EQ(at[1] - at[0], 1000);
    EXPECT_EQ(Written(), Bytes(served.begin(), served.begin() + 300));
}

TEST_F(Session, AbortEndsWithTheNoticeThenProgressZero)
{
    EXPECT_EQ(Run(true, {0x02, 0xAA, 0x03}), 0);
    const auto j = Journal();
    ASSERT_GE(j.size(), 2u);
    EXPECT_EQ(j[j.size() - 2], Log(kBreakOff, LOG_NOTICE));
    EXPECT_EQ(j.back(), Prog(0));
    for (const Entry& e : j)
        EXPECT_FALSE(!e.progress && e.value == LOG_DONE) << e;
}

TEST_F(Session, StopRequestedBeforeTheSessionEndsItAtOnce)
{
    g_engineState = ENGINE_ABORT;
    UseFile(servedFile.f, false);
    Feed({0x02, 0x01, 0x03});
    EXPECT_EQ(RunSession(), 0);
    EXPECT_EQ(Journal(), (std::vector<Entry>{Log(kBreakOff, LOG_NOTICE), Prog(0)}));
    EXPECT_TRUE(Written().empty());
}

TEST_F(Session, ImageDownloadSucceeds)
{
    // The box: handshake, then the service request; the receiver skips the
    // handshake reply and the service word before it says 'C'.
    rx.Arm(8);
    EXPECT_EQ(Run(true, {0x02, 0xAA, 0x03, 0x02, 0xB0, 0x03}), 0);

    const Bytes w = Written();
    ASSERT_GE(w.size(), 8u);
    EXPECT_EQ(Bytes(w.begin(), w.begin() + 4), (Bytes{0x02, 0xAB, 0xAC, 0x03}));
    EXPECT_EQ(rx.preamble,
              (Bytes{0x02, 0xAB, 0xAC, 0x03, kServiceWord[0], kServiceWord[1], kServiceWord[2], kServiceWord[3]}));
    // The service word goes out byte by byte.
    const auto calls = line.WriteCalls();
    ASSERT_GE(calls.size(), 8u);
    for (size_t i = 4; i < 8; ++i)
        EXPECT_EQ(calls[i].size(), 1u);

    EXPECT_EQ(rx.name, "VELTO");
    EXPECT_EQ(rx.size, "3072");
    EXPECT_TRUE(rx.file == PaddedImage());
    EXPECT_TRUE(rx.closed);
    EXPECT_TRUE(rx.stray.empty()) << Hex(rx.stray);

    EXPECT_EQ(Journal(), (std::vector<Entry>{
                             Log(kVersionLine, LOG_INFO),
                             Log("==>DATA_DL_START\r\n", LOG_INFO),
                             Log("<== DATA_DL_START\r\n", LOG_INFO),
                             Log("Start Service......\n", LOG_INFO),
                             Prog(33),
                             Prog(66),
                             Prog(100),
                             Log("Velto file send OK!\n", LOG_DONE),
                             Prog(0),
                         }));
}

TEST_F(Session, FailedTransferKeepsListeningAndASecondServiceRequestSendsAgain)
{
    rx.Arm(4);
    int transfers = 0;
    rx.fault = [&](const RxEvent& ev) -> std::optional<Bytes> {
        if (ev.kind == RxKind::Data && ev.dataIndex == 1 && ev.sendCount == 1 && ++transfers == 1) {
            // Cancel the first transfer, then ask for the service again.
            Feed({0x02, 0xB0, 0x03}, line.Now() + 10);
            rx.Arm(4);
            return Bytes{YM_CAN};
        }
        return std::nullopt;
    };
    EXPECT_EQ(Run(true, {0x02, 0xB0, 0x03}), 0);

    const Bytes sw(kServiceWord.begin(), kServiceWord.end());
    Bytes twice = sw;
    twice.insert(twice.end(), sw.begin(), sw.end());
    EXPECT_EQ(rx.preamble, twice);  // the service word before each transfer
    const Bytes w = Written();
    ASSERT_GE(w.size(), 4u);
    EXPECT_EQ(Bytes(w.begin(), w.begin() + 4), sw);
    EXPECT_EQ(std::search(w.begin() + 4, w.end(), sw.begin(), sw.end()) == w.end(), false)
        << "no second service word";
    EXPECT_TRUE(rx.file == PaddedImage());
    EXPECT_TRUE(rx.closed);

    EXPECT_EQ(LogLines(), (std::vector<Entry>{
                              Log(kVersionLine, LOG_INFO),
                              Log("Start Service......\n", LOG_INFO),
                              Log("Send File Failed!!\r\n", LOG_ERROR),
                              Log("Start Service......\n", LOG_INFO),
                              Log("Velto file send OK!\n", LOG_DONE),
                          }));
    EXPECT_EQ(ProgressValues(), (std::vector<int>{33, 66, 100, 0}));
}

TEST_F(Session, RejectedImageSendsNothing)
{
    Bytes bad = ImageFileBytes(payload);
    bad[3] ^= 0x01;
    TempFile f(bad);
    UseFile(f.f, true);
    Feed({0x02, 0xAA, 0x03});
    StopWhenQuiet();
    EXPECT_EQ(RunSession(), 1);
    EXPECT_EQ(Journal(), (std::vector<Entry>{Log("BadFile Type! Abort Download\n", LOG_DONE)}));
    EXPECT_TRUE(Written().empty());
}

TEST_F(Session, ChunkAboveTwoGiBReachesTheFile)
{
    FILE* f = OpenScratchFile();
    ASSERT_NE(f, nullptr);
    const Bytes marker = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    const int64_t at = int64_t(0xC0000010u);
    if (FileSeek(f, at, SEEK_SET) != 0 || fwrite(marker.data(), 1, marker.size(), f) != marker.size() ||
        fflush(f) != 0) {
        fclose(f);
        GTEST_SKIP() << "no sparse file above 3 GiB here";
    }
    Feed({0x02, 0x02, 0x08, 0x00, 0x10, 0x00, 0x00, 0xC0, 0x03}, 1);
    UseFile(f, false);
    StopWhenQuiet();
    RunSession();
    fclose(f);
    EXPECT_EQ(Written(), marker) << Hex(Written());
}

TEST_F(Session, ChunkFromAFileThatCannotSeekSendsNothing)
{
    // A pipe holds bytes that a read would deliver, but no position to seek.
    FILE* f = OpenFilledPipe(Pattern(512));
    ASSERT_NE(f, nullptr);
    Feed({0x02, 0x02, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x03}, 1);
    UseFile(f, false);
    StopWhenQuiet();
    RunSession();
    fclose(f);
    EXPECT_TRUE(Written().empty()) << Hex(Written());
}

// ---------------------------------------------------------------------------
// A box that goes away, and stops that must not wait on the line.

const char kLost[] = "Serial port lost! Abort Download\n";

struct LostCase {
    const char* name;
    bool image;
    Bytes script;
    // Arms the loss; called on every write and every tick until it returns true.
    std::function<bool(VirtualLine&, YmodemReceiver&)> loseWhen;
};

TEST_F(Session, LostPortEndsTheSessionOnceInEveryPhase)
{
    const auto atTick = [](int64_t t) { return [t](VirtualLine& l, YmodemReceiver&) { return l.Now() >= t; }; };
    // clang-format off
    const LostCase cases[] = {
        {"served, listening", false, {0x02, 0x01, 0x03}, atTick(500)},
        // 60000 bytes at 0, the transmit queue draining slowly.
        {"served, serving a chunk", false, {0x02, 0x02, 0x60, 0xEA, 0x00, 0x00, 0x00, 0x00, 0x03},
         [](VirtualLine& l, YmodemReceiver&) { return l.Written().size() >= 4096; }},
        {"image, listening", true, {0x02, 0xAA, 0x03}, atTick(500)},
        {"image, waiting for the box's 'C'", true, {0x02, 0xB0, 0x03},
         [](VirtualLine& l, YmodemReceiver&) { return l.Written().size() >= 4; }},
        {"image, sending block 2", true, {0x02, 0xB0, 0x03},
         [](VirtualLine&, YmodemReceiver& r) { return r.file.size() >= 1024; }},
    };
    // clang-format on
    for (const LostCase& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualLine l;
        UseLine(l);
        rewind(servedFile.f);
        rewind(imageFile.f);
        YmodemReceiver r(l);
        if (c.image)
            r.Arm(4);
        l.SetTransmitRate(64);
        int64_t lostAt = -1;
        int64_t queriesAtLoss = 0;
        const auto check = [&](VirtualLine& v) {
            if (lostAt < 0 && c.loseWhen(v, r)) {
                lostAt = v.Now();
                queriesAtLoss = v.StatusQueries();
                v.LoseLine("Input/output error");
            }
        };
        l.OnWrite([&](VirtualLine& v, const uint8_t* d, uint32_t n) {
            if (c.image)
                r.OnBytes(d, n);
            check(v);
        });
        // A stuck engine still ends: the test stops it after a long while.
        l.OnSleep([&](VirtualLine& v) {
            check(v);
            if (v.Now() > 200000)
                g_engineState = ENGINE_ABORT;
        });
        l.Feed(c.script, 1);
        UseFile(c.image ? imageFile.f : servedFile.f, c.image);
        EXPECT_EQ(RunSession(), 0);
        ASSERT_GE(lostAt, 0);

        // Half a second of a port that stays gone, then one line, then 0.
        EXPECT_LE(l.Now() - lostAt, PORT_LOST_TICKS + 2);
        EXPECT_GE(l.Now() - lostAt, PORT_LOST_TICKS);
        const auto j = Journal();
        ASSERT_GE(j.size(), 2u);
        EXPECT_EQ(j[j.size() - 2], Log(kLost, LOG_DONE));
        EXPECT_EQ(j.back(), Prog(0));
        int done = 0, errors = 0;
        for (const Entry& e : j) {
            done += !e.progress && e.value == LOG_DONE;
            errors += !e.progress && e.value == LOG_ERROR;
        }
        EXPECT_EQ(done, 1);
        EXPECT_EQ(errors, 0) << "a lost port reported as a silent box or a failed transfer";
        // No spin while deciding: a couple of queries per tick at most.
        const int64_t ticks = std::max<int64_t>(1, l.Now() - lostAt);
        EXPECT_LE(l.StatusQueries() - queriesAtLoss, 3 * ticks + 10);
        EXPECT_STREQ(EngineLineLostReason(), "Input/output error");
    }
    g_bEngineLineLost = 0;
}

TEST_F(Session, PortGoneForLessThanHalfASecondIsNotLost)
{
    // A glitch of 30 ticks, then the box carries on and is answered.
    line.LoseLine("Input/output error", 100, 130);
    Feed({0x02, 0x01, 0x03}, 400);
    UseFile(servedFile.f, false);
    StopWhenQuiet();
    EXPECT_EQ(RunSession(), 0);
    EXPECT_EQ(g_bEngineLineLost.load(), 0);
    EXPECT_EQ(Written(), (Bytes{0x02, 0x01, 0x0A, 0x03}));
    EXPECT_EQ(LogLines().back(), Log(kBreakOff, LOG_NOTICE));
}

TEST_F(Session, StopWhileServingAChunkIsSeenWithinATick)
{
    // 65535 bytes on a transmit queue that never drains: each piece would
    // wait its full drain bound.
    line.SetTransmitRate(1);
    line.SetTransmitStuck(true);
    Feed({0x02, 0x02, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x03}, 1);
    line.OnSleep([](VirtualLine& l) {
        if (l.Now() == 1500)
            g_engineState = ENGINE_ABORT;
    });
    UseFile(servedFile.f, false);
    EXPECT_EQ(RunSession(), 0);
    EXPECT_LE(line.Now(), 1501);
    EXPECT_EQ(LogLines(), (std::vector<Entry>{Log(kBreakOff, LOG_NOTICE)}));
}

TEST_F(Session, ImageTheBoxRefusesAfterItsLastBlockIsNeverReportedSent)
{
    rx.Arm(4);
    rx.fault = [&](const RxEvent& ev) -> std::optional<Bytes> {
        if (ev.kind == RxKind::Eot)
            return Bytes{YM_CAN, YM_CAN};
        return std::nullopt;
    };
    EXPECT_EQ(Run(true, {0x02, 0xB0, 0x03}), 0);
    EXPECT_EQ(LogLines(), (std::vector<Entry>{
                              Log(kVersionLine, LOG_INFO),
                              Log("Start Service......\n", LOG_INFO),
                              Log("Send File Failed!!\r\n", LOG_ERROR),
                              Log(kBreakOff, LOG_NOTICE),
                          }));
}

// A box that reboots while the engine waits for its 'C' (before the first
// block or before the closing block 0) opens the session again with
// 02 AA 03, once a second. That ends the transfer as failed, and the frame
// is answered at once, not after the hundred tries of every wait.
TEST_F(Session, ABoxThatStartsOverDuringAWaitForCIsAnsweredAtOnce)
{
    const Bytes restart = {0x02, 0xAA, 0x03};
    const Bytes answer = {0x02, 0xAB, 0xAC, 0x03};
    struct Case {
        const char* name;
        bool closing;
    };
    const Case cases[] = {{"opening 'C'", false}, {"closing 'C'", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualLine l;
        UseLine(l);
        YmodemReceiver r(l);
        int64_t restartAt = -1, answeredAt = -1;
        size_t written = 0;
        bool again = false;
        l.OnWrite([&](VirtualLine& line, const uint8_t* d, uint32_t n) {
            lastEvent = line.Now();
            const size_t before = written;
            written += n;
            if (!c.closing && before < 4 && written >= 4) {
                // The service word is in, and the box starts over.
                restartAt = line.Now() + 5;
                line.Feed(restart, restartAt);
                return;
            }
            const Bytes w = line.Written();
            if (restartAt >= 0 && answeredAt < 0 && w.size() >= 4 && Bytes(w.end() - 4, w.end()) == answer) {
                answeredAt = line.Now();
                if (!c.closing) {
                    // Handshake done: the box asks for the image again.
                    again = true;
                    r.Arm(4);
                    line.Feed({0x02, 0xB0, 0x03}, line.Now() + 5);
                }
                return;
            }
            if (c.closing || again)
                r.OnBytes(d, n);
        });
        if (c.closing) {
            r.Arm(4);
            r.fault = [&](const RxEvent& ev) -> std::optional<Bytes> {
                if (ev.kind != RxKind::Eot)
                    return std::nullopt;
                restartAt = l.Now() + 5;
                l.Feed(restart, restartAt);
                return Bytes{YM_ACK};
            };
        }
        UseFile(imageFile.f, true);
        rewind(imageFile.f);
        l.Feed({0x02, 0xB0, 0x03}, 1);
        l.OnSleep([&](VirtualLine& line) {
            if (line.Now() - lastEvent >= 3000)
                g_engineState = ENGINE_ABORT;
        });
        lastEvent = 0;
        EXPECT_EQ(RunSession(), 0);
        g_engineState = 0;

        ASSERT_GE(answeredAt, 0) << "the restarted box was never answered";
        EXPECT_LE(answeredAt - restartAt, 1) << "answered only after " << answeredAt - restartAt << " ticks";
        std::vector<Entry> want = {
            Log(kVersionLine, LOG_INFO),
            Log("Start Service......\n", LOG_INFO),
            Log("Send File Failed!!\r\n", LOG_ERROR),
            Log("==>DATA_DL_START\r\n", LOG_INFO),
            Log("<== DATA_DL_START\r\n", LOG_INFO),
        };
        if (c.closing) {
            want.push_back(Log(kBreakOff, LOG_NOTICE));
        } else {
            want.push_back(Log("Start Service......\n", LOG_INFO));
            want.push_back(Log("Velto file send OK!\n", LOG_DONE));
            EXPECT_TRUE(r.file == PaddedImage());
            EXPECT_TRUE(r.closed);
        }
        EXPECT_EQ(LogLines(), want);
    }
}

// A served file that changes during the download (truncated, rewritten by
// a build) is served as it is at each request: no bytes of its old content,
// and a request past its new end gets only what exists.
TEST_F(Session, ServedFileIsReadAsItIsAtEachRequest)
{
    const Bytes now = Pattern(100, 11);
    auto request = [](uint32_t offset, uint16_t length) {
        return Bytes{0x02,
                     0x02,
                     uint8_t(length),
                     uint8_t(length >> 8),
                     uint8_t(offset),
                     uint8_t(offset >> 8),
                     uint8_t(offset >> 16),
                     uint8_t(offset >> 24),
                     0x03};
    };
    size_t writes = 0;
    line.OnWrite([&](VirtualLine& l, const uint8_t*, uint32_t) {
        lastEvent = l.Now();
        if (++writes == 1) {
            if (!RewriteUnder(servedFile.f, now))
                ADD_FAILURE() << "could not rewrite the served file";
            Bytes next = request(0, 256);
            const Bytes third = request(50, 256);
            next.insert(next.end(), third.begin(), third.end());
            l.Feed(next, l.Now() + 1);
        }
    });
    EXPECT_EQ(Run(false, request(0, 256)), 0);
    const auto calls = line.WriteCalls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_TRUE(calls[0] == Bytes(served.begin(), served.begin() + 256));
    EXPECT_TRUE(calls[1] == now) << calls[1].size() << " bytes: " << Hex(calls[1]);
    EXPECT_TRUE(calls[2] == Bytes(now.begin() + 50, now.end())) << calls[2].size() << " bytes";
}

}  // namespace
