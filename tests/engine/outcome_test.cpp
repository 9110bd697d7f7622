// SPDX-License-Identifier: MIT
// What the session tells its front ends besides log text: how it ended, how
// far the box came, and the progress as bytes. Run with RunSession on the
// test thread over the virtual line, as the session's own tests are.
#include "engine_fixture.h"
#include "test_platform.h"

#include "file_position.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <thread>

using namespace etest;

namespace {

const Bytes kDownloadStart = {0x02, 0xAA, 0x03};
const Bytes kService = {0x02, 0xB0, 0x03};
const Bytes kStbStart = {0x02, 0x01, 0x03};
const Bytes kTimeRequest = {0x02, 0x03, 0x03};
// 16 bytes at offset 0.
const Bytes kDataRequest = {0x02, 0x02, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03};

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

const char* Name(EngineOutcome o)
{
    static const char* const kNames[] = {"None",    "Sent",     "Rejected", "TooLarge", "FileError",
                                         "Stopped", "LineLost", "Failed",   "NoMemory"};
    const size_t i = size_t(o);
    return i < sizeof kNames / sizeof kNames[0] ? kNames[i] : "?";
}

// The outcome as the session's last log line finds it: a front end woken by
// that line must already read the ending it announces.
EngineOutcome g_outcomeAtLastLine = EngineOutcome::None;

int OutcomeAtEachLine(const char* text, int level)
{
    g_outcomeAtLastLine = EngineLastOutcome();
    return CaptureLog(text, level);
}

// An image file whose every read fails.
struct UnreadableFile {
    std::filesystem::path path;
    FILE* f = nullptr;
    explicit UnreadableFile(const Bytes& bytes)
    {
        path = std::filesystem::temp_directory_path() /
               ("marbrix-outcome-" + std::to_string(reinterpret_cast<uintptr_t>(this)) + ".dat");
        if (FILE* w = fopen(path.string().c_str(), "wb")) {
            fwrite(bytes.data(), 1, bytes.size(), w);
            fclose(w);
            f = OpenUnreadableStream(path.string());
        }
    }
    ~UnreadableFile()
    {
        if (f)
            fclose(f);
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
};

class Outcome : public EngineFixture {
protected:
    Bytes payload = Pattern(3000, 4);
    TempFile imageFile{ImageFileBytes(payload)};
    TempFile servedFile{Pattern(5000, 3)};
};

enum class Box { Quiet, Answers, CancelsTheFirstBlock };

struct EndingCase {
    const char* name;
    bool image;
    Bytes script;           // what the box sends at tick 1
    Box box;                // how the box's YMODEM receiver behaves
    bool loseLine;          // the port goes for good at tick 200
    EngineOutcome outcome;  // how the session ended
    const char* lastLine;   // its last log line
};

// Every way a session ends: each sets its outcome, before the line that
// announces it.
TEST_F(Outcome, EachEndingOfASessionIsTyped)
{
    const Bytes service = Join({kDownloadStart, kService});
    Bytes notAnImage = ImageFileBytes(payload);
    notAnImage[3] ^= 0x01;
    TempFile badMagic(notAnImage);
    TempFile headerOnly(ImageFileBytes(Bytes{}));
    UnreadableFile unreadable(ImageFileBytes(payload));
    ASSERT_NE(unreadable.f, nullptr);

    // clang-format off
    const struct {
        EndingCase c;
        FILE* file;
    } cases[] = {
        {{"image sent", true, service, Box::Answers, false, EngineOutcome::Sent, "Velto file send OK!\n"},
         imageFile.f},
        {{"not an image", true, service, Box::Answers, false, EngineOutcome::Rejected,
          "BadFile Type! Abort Download\n"}, badMagic.f},
        {{"header without payload", true, {}, Box::Quiet, false, EngineOutcome::Rejected,
          "BadFile Type! Abort Download\n"}, headerOnly.f},
        {{"image the system cannot read", true, service, Box::Answers, false, EngineOutcome::FileError,
          "Can't read the download file! Abort Download\n"}, unreadable.f},
        {{"stopped with no box", true, {}, Box::Quiet, false, EngineOutcome::Stopped,
          "[VUMO] User break off\r\n"}, imageFile.f},
        {{"stopped after the handshake", true, kDownloadStart, Box::Quiet, false, EngineOutcome::Stopped,
          "[VUMO] User break off\r\n"}, imageFile.f},
        {{"stopped after a failed transfer", true, service, Box::CancelsTheFirstBlock, false,
          EngineOutcome::Failed, "[VUMO] User break off\r\n"}, imageFile.f},
        {{"served download stopped", false, Join({kStbStart, kDataRequest}), Box::Quiet, false,
          EngineOutcome::Stopped, "[VUMO] User break off\r\n"}, servedFile.f},
        {{"image, port lost", true, kDownloadStart, Box::Quiet, true, EngineOutcome::LineLost,
          "Serial port lost! Abort Download\n"}, imageFile.f},
        {{"served, port lost", false, kStbStart, Box::Quiet, true, EngineOutcome::LineLost,
          "Serial port lost! Abort Download\n"}, servedFile.f},
    };
    // clang-format on
    for (const auto& [c, file] : cases) {
        SCOPED_TRACE(c.name);
        CaseLine l;
        g_bEngineLineLost = 0;
        PortResetLostWatch();
        EngineSetOutcome(EngineOutcome::None);
        g_outcomeAtLastLine = EngineOutcome::None;
        g_pfnLogSink = OutcomeAtEachLine;
        rewind(file);
        clearerr(file);
        if (c.box != Box::Quiet)
            l.rx.Arm(int(4 + (c.script.size() > kService.size() ? 4 : 0)));
        if (c.box == Box::CancelsTheFirstBlock)
            l.rx.fault = [](const RxEvent& ev) -> std::optional<Bytes> {
                if (ev.kind == RxKind::Data)
                    return Bytes{YM_CAN};
                return std::nullopt;
            };
        if (c.loseLine)
            l.line.LoseLine("Input/output error", 200);
        l.StopWhenQuiet();
        if (!c.script.empty())
            l.line.Feed(c.script, 1);
        UseFile(file, c.image);
        RunSession();

        EXPECT_STREQ(Name(EngineLastOutcome()), Name(c.outcome));
        EXPECT_STREQ(Name(g_outcomeAtLastLine), Name(c.outcome)) << "set only after its line";
        const auto lines = LogLines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back().text, c.lastLine);
        g_engineState = 0;
    }
    g_bEngineLineLost = 0;
}

// An image whose padded size YMODEM cannot announce, from a sparse file.
TEST_F(Outcome, TooLargeIsItsOwnEnding)
{
    FILE* f = OpenScratchFile();
    ASSERT_NE(f, nullptr);
    const Bytes head = ImageFileBytes({0x01});
    const uint8_t last = 0x02;
    if (fwrite(head.data(), 1, head.size(), f) != head.size() ||
        FileSeek(f, int64_t(IMAGE_MAX_SIZE) + 1024, SEEK_SET) != 0 || fwrite(&last, 1, 1, f) != 1 || fflush(f) != 0) {
        fclose(f);
        GTEST_SKIP() << "no sparse file of 2 GiB here";
    }
    rewind(f);
    UseFile(f, true);
    StopWhenQuiet();
    EXPECT_EQ(RunSession(), 1);
    fclose(f);
    EXPECT_EQ(EngineLastOutcome(), EngineOutcome::TooLarge);
    ASSERT_EQ(LogLines().size(), 1u);
    EXPECT_EQ(LogLines()[0].value, LOG_DONE);
}

// The byte sink beside the percent sink: one report per acknowledged block,
// each the percentage it makes, ending at the padded image; then the final
// report. An image of 245 KiB, whose first blocks are still below 1 %.
TEST_F(Outcome, BytesCountEveryAcknowledgedBlockUpToThePaddedImage)
{
    const Bytes big = Pattern(250000, 8);
    const uint64_t padded = ImagePaddedSize(IMAGE_HEADER_SIZE + big.size());
    ASSERT_EQ(padded, 245u * 1024);
    TempFile f(ImageFileBytes(big));
    rx.Arm(4);
    UseFile(f.f, true);
    Feed(kService, 1);
    StopWhenQuiet();
    RunSession();
    ASSERT_EQ(EngineLastOutcome(), EngineOutcome::Sent);

    const std::vector<ByteReport> bytes = ByteReports();
    const std::vector<int> percents = ProgressValues();
    ASSERT_EQ(bytes.size(), 245u + 1);
    ASSERT_EQ(percents.size(), bytes.size()) << "the two sinks are called together";
    for (size_t i = 0; i + 1 < bytes.size(); ++i) {
        EXPECT_EQ(bytes[i], (ByteReport{(i + 1) * 1024, padded})) << i;
        EXPECT_EQ(percents[i], EngineProgressPercent(bytes[i].acknowledged, padded)) << i;
    }
    EXPECT_EQ(percents[0], 0) << "a block below 1 % is reported in bytes all the same";
    EXPECT_EQ(bytes[bytes.size() - 2], (ByteReport{padded, padded}));
    EXPECT_EQ(bytes.back(), (ByteReport{0, padded})) << "the session's final report";
    EXPECT_EQ(percents.back(), 0);
}

// How far the box came: "box" at its first whole frame, "transfer" once it
// has begun to take the download; each once, in that order, before the
// first progress report, and none for a box that never spoke.
TEST_F(Outcome, StagesComeOnceEachInOrder)
{
    using S = EngineStage;
    const struct {
        const char* name;
        bool image;
        Bytes script;
        bool answers;
        std::vector<S> stages;
    } cases[] = {
        {"image: download start, then service", true, Join({kDownloadStart, kService}), true, {S::Box, S::Transfer}},
        {"image: service without the download start", true, kService, true, {S::Box, S::Transfer}},
        {"image: download start twice", true, Join({kDownloadStart, kDownloadStart}), false, {S::Box, S::Transfer}},
        {"image: an unknown command only", true, {0x02, 0x77, 0x03}, false, {S::Box}},
        {"image: the served opening only", true, kStbStart, false, {S::Box}},
        {"image: nobody talks", true, {}, false, {}},
        {"image: a frame cut short", true, {0x02, 0xAA, 0x55}, false, {}},
        {"served: opening, then data requests",
         false,
         Join({kStbStart, kDataRequest, kDataRequest}),
         false,
         {S::Box, S::Transfer}},
        {"served: a data request first", false, kDataRequest, false, {S::Box, S::Transfer}},
        {"served: time requests only", false, Join({kTimeRequest, kTimeRequest}), false, {S::Box}},
        {"served: nobody talks", false, {}, false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CaseLine l;
        if (c.answers)
            l.rx.Arm(c.script.size() > kService.size() ? 8 : 4);
        l.StopWhenQuiet();
        rewind(imageFile.f);
        rewind(servedFile.f);
        if (!c.script.empty())
            l.line.Feed(c.script, 1);
        UseFile(c.image ? imageFile.f : servedFile.f, c.image);
        RunSession();
        g_engineState = 0;

        const std::vector<StageReport> got = StageReports();
        std::vector<S> stages;
        for (const StageReport& r : got)
            stages.push_back(r.stage);
        EXPECT_EQ(stages, c.stages);
        if (c.answers) {
            EXPECT_EQ(EngineLastOutcome(), EngineOutcome::Sent);
        }
        // Before the first progress value, and "box" before any line of
        // what the box said.
        const std::vector<Entry> journal = Journal();
        size_t firstProgress = journal.size();
        for (size_t i = 0; i < journal.size() && firstProgress == journal.size(); ++i)
            if (journal[i].progress)
                firstProgress = i;
        for (const StageReport& r : got)
            EXPECT_LE(r.journalAt, firstProgress);
        if (!got.empty() && c.image) {
            EXPECT_EQ(got[0].journalAt, 1u) << "right after the version line";
        }
    }
}

// The last outcome belongs to the last session: an accepted Start clears it.
TEST_F(Outcome, AcceptedStartClearsTheLastOutcome)
{
    CDownloadEngine engine;
    engine.SetLogSink(CaptureLog);
    EngineSetOutcome(EngineOutcome::Sent);
    // A refused Start leaves it.
    EXPECT_EQ(engine.Start(&line, nullptr, 0), -1);
    EXPECT_EQ(EngineLastOutcome(), EngineOutcome::Sent);
    line.OnSleep([](VirtualLine&) { std::this_thread::sleep_for(std::chrono::microseconds(200)); });
    ASSERT_EQ(engine.Start(&line, servedFile.f, 0), 0);
    EXPECT_EQ(EngineLastOutcome(), EngineOutcome::None);
    engine.Abort();
    ASSERT_TRUE(EngineWaitIdle(20000));
    EXPECT_EQ(EngineLastOutcome(), EngineOutcome::Stopped);
}

}  // namespace
