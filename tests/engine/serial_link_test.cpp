// SPDX-License-Identifier: MIT
// The serial primitives on the virtual line: ticks are counted only while
// nothing waits, stray bytes are echoed, a stop request is seen within a tick.
#include "engine_fixture.h"
#include "test_platform.h"

using namespace etest;

namespace {

class SerialLink : public EngineFixture {};

// The three receive waits, run the same way: true when the byte came.
struct WaitCase {
    const char* name;
    std::function<bool(VirtualLine&, int ticks)> wait;
};

const WaitCase kWaits[] = {
    {"PortReceiveByte", [](VirtualLine& l, int t) { return PortReceiveByte(&l, t) == 0x5A; }},
    {"PortGetByte",
     [](VirtualLine&, int t) {
         uint8_t b = 0;
         return PortGetByte(&b, t) == 0 && b == 0x5A;
     }},
    {"PortWaitFor", [](VirtualLine& l, int t) { return PortWaitFor(&l, 0x5A, t) == 1; }},
};

TEST_F(SerialLink, ByteArrivingAtTick37TakesExactly37Sleeps)
{
    for (const WaitCase& c : kWaits) {
        SCOPED_TRACE(c.name);
        VirtualLine l;
        g_enginePort = &l;
        l.Feed({0x5A}, 37);
        EXPECT_TRUE(c.wait(l, 1000));
        EXPECT_EQ(l.Sleeps(), 37);
        EXPECT_EQ(l.Pending(), 0u);
    }
    EXPECT_TRUE(LogLines().empty());
}

TEST_F(SerialLink, ByteAlreadyWaitingNeedsNoSleep)
{
    for (const WaitCase& c : kWaits) {
        SCOPED_TRACE(c.name);
        VirtualLine l;
        g_enginePort = &l;
        l.Feed({0x5A});
        EXPECT_TRUE(c.wait(l, 1000));
        EXPECT_EQ(l.Sleeps(), 0);
    }
}

TEST_F(SerialLink, ZeroTicksTimesOutAtOnceAndLeavesWaitingBytes)
{
    line.Feed({0x5A, 0x02});

    EXPECT_EQ(PortReceiveByte(&line, 0), 0);
    EXPECT_EQ(LogLines(), (std::vector<Entry>{Log("[VUMO] Receive nothing in 0ms.\r\n", LOG_ERROR)}));

    uint8_t b = 0x77;
    EXPECT_EQ(PortGetByte(&b, 0), 1);
    EXPECT_EQ(b, 0x77);

    EXPECT_EQ(PortWaitFor(&line, 0x5A, 0), 0);

    EXPECT_EQ(line.Pending(), 2u);
    EXPECT_EQ(line.Sleeps(), 0);
}

TEST_F(SerialLink, TimeOutLinePrintsTheTimeThatPassed)
{
    struct Case {
        int ticks;
        const char* line;
    };
    const Case cases[] = {
        {1000, "[VUMO] Receive nothing in 10000ms.\r\n"},
        {100, "[VUMO] Receive nothing in 1000ms.\r\n"},
        {1, "[VUMO] Receive nothing in 10ms.\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ticks);
        ClearJournal();
        VirtualLine l;
        EXPECT_EQ(PortReceiveByte(&l, c.ticks), 0);
        EXPECT_EQ(l.Sleeps(), c.ticks);
        EXPECT_EQ(LogLines(), (std::vector<Entry>{Log(c.line, LOG_ERROR)}));
    }
}

TEST_F(SerialLink, ReceivedZeroByteIsNotATimeOut)
{
    line.Feed({0x00}, 3);
    EXPECT_EQ(PortReceiveByte(&line, 100), 0);
    EXPECT_EQ(line.Sleeps(), 3);
    EXPECT_TRUE(LogLines().empty());
}

TEST_F(SerialLink, GetByteTimeOutLeavesTheCallersByte)
{
    uint8_t b = 0x77;
    EXPECT_EQ(PortGetByte(&b, 50), 1);
    EXPECT_EQ(b, 0x77);
    EXPECT_EQ(line.Sleeps(), 50);
    EXPECT_TRUE(LogLines().empty());
}

TEST_F(SerialLink, WaitForEchoesStrayBytesAndLeavesTheNextOne)
{
    line.Feed({0x61, 0x62, 0x63}, 4);
    line.Feed({0x02, 0x07}, 9);
    StdoutCapture capture;
    const int got = PortWaitFor(&line, 0x02, 1000);
    const std::string echoed = capture.Take();
    EXPECT_EQ(got, 1);
    EXPECT_EQ(echoed, "abc");
    EXPECT_EQ(line.Sleeps(), 9);
    // The 7 came in the same read as the 2: the link holds it, unconsumed.
    ASSERT_EQ(PortInQueue(&line), 1u);
    EXPECT_EQ(PortReceiveByte(&line, 10), 0x07);
    EXPECT_EQ(line.Sleeps(), 9);
}

TEST_F(SerialLink, ChatterIsReadAndEchoedInRunsNotByteByByte)
{
    // A box that talks on and on before its frame: 3000 bytes waiting at
    // once, then the frame, then more chatter behind it.
    static std::vector<Bytes> runs;
    runs.clear();
    g_pfnEchoSink = [](const uint8_t* d, uint32_t n) { runs.emplace_back(d, d + n); };
    Bytes chatter = Pattern(3000, 4);
    std::replace(chatter.begin(), chatter.end(), uint8_t(0x02), uint8_t(0x20));
    line.Feed(chatter);
    line.Feed({0x02, 0x01, 0x03, 'z'}, 6);
    line.Feed({'y'}, 8);

    EXPECT_EQ(PortWaitFor(&line, 0x02, 1000), 1);
    EXPECT_EQ(line.Sleeps(), 6);
    Bytes echoed;
    for (const Bytes& r : runs)
        echoed.insert(echoed.end(), r.begin(), r.end());
    EXPECT_TRUE(echoed == chatter);
    EXPECT_LE(runs.size(), 2u);
    // A handful of status queries, where a byte per read would need two each.
    EXPECT_LE(line.StatusQueries(), 20);

    // What came behind the 2 is handed out in order without a tick, then
    // the link goes back to the driver for the later byte.
    EXPECT_EQ(PortReceiveByte(&line, 100), 0x01);
    uint8_t b = 0;
    EXPECT_EQ(PortGetByte(&b, 100), 0);
    EXPECT_EQ(b, 0x03);
    EXPECT_EQ(PortReceiveByte(&line, 100), 'z');
    EXPECT_EQ(line.Sleeps(), 6);
    EXPECT_EQ(PortReceiveByte(&line, 100), 'y');
    EXPECT_EQ(line.Sleeps(), 8);
    g_pfnEchoSink = nullptr;
    EXPECT_TRUE(LogLines().empty());
}

TEST_F(SerialLink, HeldBytesBelongToTheirLineAndComeBeforeTheDriversOnes)
{
    line.Feed({0x02, 0x41, 0x42});
    EXPECT_EQ(PortWaitFor(&line, 0x02, 10), 1);
    line.Feed({0x43});

    // Another line never sees what this one holds.
    VirtualLine other;
    uint8_t b = 0x77;
    g_enginePort = &other;
    EXPECT_EQ(PortGetByte(&b, 5), 1);
    EXPECT_EQ(b, 0x77);
    EXPECT_EQ(PortInQueue(&other), 0u);
    g_enginePort = &line;

    // PortRead hands out the held bytes first, then reads the driver.
    uint8_t buf[4] = {};
    EXPECT_EQ(PortInQueue(&line), 3u);
    EXPECT_EQ(PortRead(&line, buf, 4), 2u);
    EXPECT_EQ(Bytes(buf, buf + 2), (Bytes{0x41, 0x42}));
    EXPECT_EQ(PortRead(&line, buf, 4), 1u);
    EXPECT_EQ(buf[0], 0x43);
    EXPECT_EQ(line.Sleeps(), 0);
}

TEST_F(SerialLink, WaitForComparesTheLowByteOfTheAwaitedValue)
{
    line.Feed({0x02});
    EXPECT_EQ(PortWaitFor(&line, 0x102, 10), 1);
    EXPECT_EQ(line.Sleeps(), 0);
}

TEST_F(SerialLink, EveryWaitSeesAStopRequestWithinATick)
{
    for (const WaitCase& c : kWaits) {
        SCOPED_TRACE(c.name);
        VirtualLine l;
        g_enginePort = &l;
        g_engineState = 0;
        l.OnSleep([](VirtualLine& v) {
            if (v.Now() == 20)
                g_engineState = ENGINE_ABORT;
        });
        EXPECT_FALSE(c.wait(l, 1000));
        EXPECT_GE(l.Sleeps(), 20);
        EXPECT_LE(l.Sleeps(), 21);
    }
    // A stop is not a silent box: no time-out line.
    EXPECT_TRUE(LogLines().empty());
    g_engineState = 0;
}

TEST_F(SerialLink, StrayBytesGoToTheEchoSinkWhenOneIsInstalled)
{
    static Bytes echoed;
    echoed.clear();
    g_pfnEchoSink = [](const uint8_t* d, uint32_t n) { echoed.insert(echoed.end(), d, d + n); };
    line.Feed({'h', 'i', 0x02});
    StdoutCapture capture;
    EXPECT_EQ(PortWaitFor(&line, 0x02, 10), 1);
    EXPECT_EQ(capture.Take(), "");
    g_pfnEchoSink = nullptr;
    EXPECT_EQ(echoed, (Bytes{'h', 'i'}));
}

TEST_F(SerialLink, WaitForWithAStopAlreadyRequestedReturnsAtOnce)
{
    g_engineState = ENGINE_ABORT;
    line.Feed({0x02}, 5);
    EXPECT_EQ(PortWaitFor(&line, 0x02, 1000), 0);
    EXPECT_EQ(line.Sleeps(), 0);
}

TEST_F(SerialLink, WaitForTimesOutAfterItsTicks)
{
    line.Feed({0x02}, 101);
    EXPECT_EQ(PortWaitFor(&line, 0x02, 100), 0);
    EXPECT_EQ(line.Sleeps(), 100);
}

TEST_F(SerialLink, DrainIsBoundedByItsTicks)
{
    struct Case {
        const char* name;
        uint32_t rate;
        bool stuck;
        uint32_t queued;
        int ticks;
        int64_t sleeps;
    };
    const Case cases[] = {
        {"empty queue", 0, false, 0, 25, 0},
        {"stuck queue", 1, true, 10, 25, 25},
        {"stuck queue, one tick", 1, true, 10, 1, 1},
        {"queue draining at 10 per tick", 10, false, 35, 1000, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualLine l;
        l.SetTransmitRate(c.rate);
        Bytes out(c.queued, 0x55);
        if (c.queued) {
            EXPECT_EQ(PortWrite(&l, out.data(), c.queued), c.queued);
        }
        l.SetTransmitStuck(c.stuck);
        EXPECT_EQ(PortDrainOutput(&l, c.ticks), 0);
        EXPECT_EQ(l.Sleeps(), c.sleeps);
    }
}

TEST_F(SerialLink, PutByteSendsTheLowEightBits)
{
    EXPECT_EQ(PortPutByte(0x1FF), 0);
    EXPECT_EQ(line.WriteCalls(), (std::vector<Bytes>{{0xFF}}));
    line.FailWrites(1);
    EXPECT_EQ(PortPutByte(0x41), 1);
    EXPECT_TRUE(LogLines().empty());
}

TEST_F(SerialLink, FailingStatusQueriesCountAsAQuietLine)
{
    EXPECT_EQ(PortInQueue(&line), 0u);  // nothing there yet
    line.Feed({0x5A});
    line.FailStatus(1);
    EXPECT_EQ(PortInQueue(&line), 0u);
    EXPECT_EQ(PortInQueue(&line), 1u);

    // Every failing query reads as empty, so the waits sleep through them.
    for (const WaitCase& c : kWaits) {
        SCOPED_TRACE(c.name);
        VirtualLine l;
        g_enginePort = &l;
        l.Feed({0x5A});
        l.FailStatus(3);
        EXPECT_TRUE(c.wait(l, 1000));
        EXPECT_GE(l.Sleeps(), 1);
        EXPECT_LE(l.Sleeps(), 3);
    }
    // With every query failing the wait runs out its ticks.
    VirtualLine dead;
    dead.Feed({0x5A});
    dead.FailStatus(1 << 30);
    EXPECT_EQ(PortReceiveByte(&dead, 40), 0);
    EXPECT_EQ(dead.Sleeps(), 40);
}

TEST_F(SerialLink, FailedReadWithBytesWaitingIsRetriedWithoutATick)
{
    for (const WaitCase& c : kWaits) {
        SCOPED_TRACE(c.name);
        VirtualLine l;
        g_enginePort = &l;
        l.Feed({0x5A});
        l.FailReads(1);
        EXPECT_TRUE(c.wait(l, 1000));
        EXPECT_EQ(l.Sleeps(), 0);
    }
}

TEST_F(SerialLink, ReadThatKeepsFailingEndsTheWaitByItsTicks)
{
    line.Feed({0x5A});
    line.FailReads(1 << 30);
    EXPECT_EQ(PortReceiveByte(&line, 40), 0);
    EXPECT_LE(line.Sleeps(), 40);
    EXPECT_EQ(LogLines(), (std::vector<Entry>{Log("[VUMO] Receive nothing in 400ms.\r\n", LOG_ERROR)}));
    uint8_t b = 0x77;
    EXPECT_EQ(PortGetByte(&b, 40), 1);
    EXPECT_EQ(b, 0x77);
    EXPECT_EQ(PortWaitFor(&line, 0x5A, 40), 0);
}

TEST_F(SerialLink, ReadAndWriteReportCountsAndFailuresAsZero)
{
    uint8_t buf[4] = {};
    line.Feed({1, 2, 3});
    EXPECT_EQ(PortRead(&line, buf, 2), 2u);
    line.FailReads(1);
    EXPECT_EQ(PortRead(&line, buf, 1), 0u);
    const uint8_t out[3] = {9, 8, 7};
    EXPECT_EQ(PortWrite(&line, out, 3), 3u);
    line.FailWrites(1);
    EXPECT_EQ(PortWrite(&line, out, 3), 0u);
    EXPECT_EQ(Written(), (Bytes{9, 8, 7}));
}

// ---------------------------------------------------------------------------
// The transmit wait on a line that knows its rate: short sleeps, as long as
// the queued bytes need, counted against the bound as time.

constexpr int64_t kTickUs = 10000;

TEST_F(SerialLink, DrainAtAKnownRateSleepsAboutWhatTheQueueNeeds)
{
    struct Case {
        const char* name;
        uint32_t baud;
        uint32_t queued;
    };
    const Case cases[] = {
        {"a piece at 921600", 921600, 256},
        {"a piece at 460800", 460800, 256},
        {"a piece at 115200: two ticks, then the rest", 115200, 256},
        {"a few bytes", 921600, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualLine l;
        l.SetBaud(c.baud);
        l.SetTransmitRate(c.baud / 1000);  // bytes a tick at 8N1
        Bytes out(c.queued, 0x55);
        ASSERT_EQ(PortWrite(&l, out.data(), c.queued), c.queued);
        EXPECT_EQ(PortDrainOutput(&l, 1000), 0);
        PortQueueStatus st{};
        ASSERT_TRUE(l.QueueStatus(&st));
        EXPECT_EQ(st.cbOutQue, 0u);
        const int64_t needUs = int64_t(c.queued) * 10 * 1000000 / c.baud;
        EXPECT_GE(l.Microseconds(), needUs);
        // Whole ticks only for what is a tick or more on the line; the rest
        // in one short sleep, and a second for a byte the rounding left.
        EXPECT_LT(l.Microseconds(), needUs + kTickUs / 10);
        EXPECT_LE(l.ShortSleeps(), 2);
        EXPECT_EQ(l.Sleeps(), needUs / kTickUs);
    }
}

TEST_F(SerialLink, DrainAtAKnownRateEndsByTimeOnStopOrLostLine)
{
    struct Case {
        const char* name;
        int ticks;
        std::function<void(VirtualLine&)> arrange;
        int64_t endTick;  // the virtual tick the wait ends in
    };
    const Case cases[] = {
        {"stuck queue: its ticks of short sleeps", 25, [](VirtualLine&) {}, 25},
        {"stuck queue, one tick", 1, [](VirtualLine&) {}, 1},
        {"stop request at tick 7", 1000,
         [](VirtualLine& l) {
             l.OnSleep([](VirtualLine& v) {
                 if (v.Now() == 7)
                     g_engineState = ENGINE_ABORT;
             });
         },
         7},
        {"line lost at tick 4", 1000, [](VirtualLine& l) { l.LoseLine("gone", 4); }, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_engineState = 0;
        VirtualLine l;
        l.SetBaud(921600);
        l.SetTransmitRate(921);
        Bytes out(10, 0x55);  // 109 us on the line: every sleep is short
        ASSERT_EQ(PortWrite(&l, out.data(), 10), 10u);
        l.SetTransmitStuck(true);
        c.arrange(l);
        EXPECT_EQ(PortDrainOutput(&l, c.ticks), 0);
        // Bounded by the time slept, not by the number of looks at the
        // queue: far more short sleeps than ticks went by.
        EXPECT_EQ(l.Now(), c.endTick);
        EXPECT_LT(l.Microseconds(), (c.endTick + 1) * kTickUs);
        EXPECT_GT(l.ShortSleeps(), 5 * c.endTick);
    }
    g_engineState = 0;
}

}  // namespace
