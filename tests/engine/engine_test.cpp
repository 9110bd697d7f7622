// SPDX-License-Identifier: MIT
// The engine object, its worker thread and its logger.
#include "engine_fixture.h"

#include <atomic>
#include <chrono>
#include <thread>

using namespace etest;

namespace {

const char kBusy[] = "System is busy now! Please wait...\n";
const char kBanner1[] = "VUMO 0.2 STB DownLoad Software.\r\n";
const char kBanner2[] = "Start Download Service\r\n";
const char kBreakOff[] = "[VUMO] User break off\r\n";

class Engine : public EngineFixture {
protected:
    CDownloadEngine engine;  // clears the sinks: install them again
    TempFile served{Pattern(5000)};
    TempFile image{ImageFileBytes(Pattern(2000))};

    void SetUp() override
    {
        EngineFixture::SetUp();
        engine.SetLogSink(CaptureLog);
        engine.SetProgressSink(CaptureProgress);
        // The worker sleeps on the virtual line; a short real pause per tick
        // keeps it from spinning a core while the test thread looks on.
        line.OnSleep([](VirtualLine&) { std::this_thread::sleep_for(std::chrono::microseconds(200)); });
    }

    void TearDown() override
    {
        engine.Abort();
        EXPECT_TRUE(EngineWaitIdle(20000)) << "worker still running";
        EngineFixture::TearDown();
    }
};

TEST_F(Engine, ConstructorClearsTheSinks)
{
    CDownloadEngine second;
    EXPECT_EQ(g_pfnLogSink, nullptr);
    EXPECT_EQ(g_pfnProgressSink, nullptr);
    engine.SetLogSink(CaptureLog);
    engine.SetProgressSink(CaptureProgress);
}

TEST_F(Engine, StartWithoutAFileIsRefusedSilently)
{
    g_engineState = ENGINE_ABORT;
    EXPECT_EQ(engine.Start(&line, nullptr, 1), -1);
    EXPECT_EQ(g_engineState.load(), ENGINE_ABORT);
    EXPECT_EQ(g_bEngineBusy.load(), 0);
    EXPECT_EQ(g_engineFile, nullptr);
    EXPECT_TRUE(Journal().empty());
}

TEST_F(Engine, StartWhileBusyIsRefusedAndChangesNothing)
{
    // A worker "still running": the flag is what Start looks at.
    g_bEngineBusy = 1;
    g_engineState = ENGINE_ABORT;
    VirtualLine other;
    EXPECT_EQ(engine.Start(&other, served.f, 1), -1);
    EXPECT_EQ(Journal(), (std::vector<Entry>{Log(kBusy, LOG_ERROR)}));
    EXPECT_EQ(g_engineState.load(), ENGINE_ABORT);
    EXPECT_EQ(g_enginePort, &line);
    EXPECT_EQ(g_engineFile, nullptr);
    EXPECT_EQ(g_bEngineImageMode, 0);
    g_bEngineBusy = 0;
}

TEST_F(Engine, SecondStartRightAfterTheFirstIsRefused)
{
    ASSERT_EQ(engine.Start(&line, served.f, 0), 0);
    // The flag is up as soon as Start returns, whether or not the worker
    // has begun yet.
    EXPECT_EQ(g_bEngineBusy.load(), 1);
    EXPECT_EQ(engine.Start(&line, image.f, 1), -1);
    EXPECT_EQ(g_engineFile, served.f);
    EXPECT_EQ(g_bEngineImageMode, 0);
    EXPECT_EQ(engine.Abort(), 0);
    ASSERT_TRUE(EngineWaitIdle(20000));
    const auto lines = LogLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), Log(kBusy, LOG_ERROR)), lines.end());
    EXPECT_EQ(lines.back(), Log(kBreakOff, LOG_NOTICE));
    EXPECT_EQ(g_bEngineBusy.load(), 0);
}

TEST_F(Engine, FirstLinesOfADownload)
{
    struct Case {
        uint8_t mode;
        std::vector<Entry> lines;
    };
    const Case cases[] = {
        {0, {Log(kBanner1, LOG_INFO), Log(kBanner2, LOG_INFO), Log(kBreakOff, LOG_NOTICE)}},
        // Any non-zero byte selects an image download.
        {0x80,
         {Log("Velto File Download!\n", LOG_INFO), Log(kBanner1, LOG_INFO), Log(kBanner2, LOG_INFO),
          Log("Download File is valid, DL Version:1.2\n", LOG_INFO), Log(kBreakOff, LOG_NOTICE)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.mode));
        ClearJournal();
        rewind(c.mode ? image.f : served.f);
        ASSERT_EQ(engine.Start(&line, c.mode ? image.f : served.f, c.mode), 0);
        EXPECT_EQ(g_bEngineImageMode != 0, c.mode != 0);
        // Let the worker get to its listening loop before the abort.
        for (int i = 0; i < 2000 && line.Now() < 50; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        engine.Abort();
        ASSERT_TRUE(EngineWaitIdle(20000));
        EXPECT_EQ(LogLines(), c.lines);
    }
}

TEST_F(Engine, AbortInIdleThenStartRunsNormally)
{
    EXPECT_EQ(engine.Abort(), 0);
    EXPECT_EQ(g_engineState.load(), ENGINE_ABORT);
    EXPECT_TRUE(Journal().empty());
    // The box greets once the worker listens.
    line.Feed({0x02, 0x01, 0x03}, 10);
    ASSERT_EQ(engine.Start(&line, served.f, 0), 0);
    EXPECT_EQ(g_engineState.load(), 0);
    for (int i = 0; i < 5000 && line.Written().size() < 4; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(line.Written(), (Bytes{0x02, 0x01, 0x0A, 0x03}));
    engine.Abort();
    ASSERT_TRUE(EngineWaitIdle(20000));
    EXPECT_EQ(LogLines(),
              (std::vector<Entry>{Log(kBanner1, LOG_INFO), Log(kBanner2, LOG_INFO),
                                  Log("[VUMO] => STB_START\r\n", LOG_INFO), Log("[VUMO] <= VUMO_START\r\n", LOG_INFO),
                                  Log(kBreakOff, LOG_NOTICE)}));
}

// What a thread leaves to be done at its very end, after its function has
// returned (libcrypto's per-thread state, for one): slow here, so that a
// wait that stops at the end of the session is caught.
std::atomic<bool> g_threadEndDone{false};
struct SlowThreadEnd {
    bool used = false;
    ~SlowThreadEnd()
    {
        if (!used)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        g_threadEndDone = true;
    }
};

int LogAndMarkTheThread(const char* text, int level)
{
    thread_local SlowThreadEnd end;
    end.used = true;
    return CaptureLog(text, level);
}

// A front end that leaves the process once the engine is idle must not
// leave while the worker's thread is still ending: the process's exit
// handlers would free what that end still touches.
TEST_F(Engine, IdleMeansTheWorkerThreadHasEndedToo)
{
    g_threadEndDone = false;
    engine.SetLogSink(LogAndMarkTheThread);
    ASSERT_EQ(engine.Start(&line, served.f, 0), 0);
    engine.Abort();
    ASSERT_TRUE(EngineWaitIdle(20000));
    EXPECT_TRUE(g_threadEndDone.load()) << "idle while the worker's thread had not ended";
    EXPECT_FALSE(LogLines().empty());
}

TEST_F(Engine, ImageDownloadEndsByItself)
{
    YmodemReceiver r(line);
    line.OnWrite([&](VirtualLine&, const uint8_t* d, uint32_t n) { r.OnBytes(d, n); });
    r.Arm(8);
    line.Feed({0x02, 0xAA, 0x03, 0x02, 0xB0, 0x03}, 5);
    ASSERT_EQ(engine.Start(&line, image.f, 1), 0);
    ASSERT_TRUE(EngineWaitIdle(20000));
    const auto lines = LogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), Log("Velto file send OK!\n", LOG_DONE));
    EXPECT_EQ(ProgressValues(), (std::vector<int>{50, 100, 0}));
    EXPECT_TRUE(r.closed);
}

TEST_F(Engine, LogWithAndWithoutASink)
{
    g_pfnLogSink = nullptr;
    EXPECT_EQ(EngineLog(LOG_ERROR, "value %d, %s\n", 42, "text"), 0);
    EXPECT_STREQ(g_szEngineLog, "value 42, text\n");
    EXPECT_TRUE(Journal().empty());

    g_pfnLogSink = CaptureLog;
    EXPECT_EQ(EngineLog(LOG_NOTICE, "[%02X]", 0xAB), kSinkResult);
    EXPECT_EQ(Journal(), (std::vector<Entry>{Log("[AB]", LOG_NOTICE)}));
}

TEST_F(Engine, LongTextIsCutAt255Characters)
{
    const std::string big(400, 'q');
    EngineLog(LOG_INFO, "%s<end>", big.c_str());
    const auto j = Journal();
    ASSERT_EQ(j.size(), 1u);
    EXPECT_EQ(j[0].text, std::string(255, 'q'));
    EXPECT_EQ(strlen(g_szEngineLog), 255u);
}

// The sink checks each text while it holds it: one letter repeated, then
// its number. A text formatted over by the other thread shows up here.
std::atomic<int> g_mixed{0};
std::atomic<int> g_seen{0};

int CheckingSink(const char* text, int)
{
    const std::string t = text;
    ++g_seen;
    const size_t sp = t.find(' ');
    if (sp != 200 || t.find_first_not_of(t[0], 0) != sp || (t[0] != 'a' && t[0] != 'b'))
        ++g_mixed;
    return 0;
}

TEST_F(Engine, ConcurrentLogCallsReachTheSinkWhole)
{
    g_pfnLogSink = CheckingSink;
    g_mixed = 0;
    g_seen = 0;
    const std::string as(200, 'a'), bs(200, 'b');
    auto run = [](const std::string* s) {
        for (int i = 0; i < 3000; ++i)
            EngineLog(LOG_INFO, "%s %d", s->c_str(), i);
    };
    std::thread t1(run, &as), t2(run, &bs);
    t1.join();
    t2.join();
    EXPECT_EQ(g_seen.load(), 6000);
    EXPECT_EQ(g_mixed.load(), 0);
    g_pfnLogSink = CaptureLog;
}

}  // namespace
