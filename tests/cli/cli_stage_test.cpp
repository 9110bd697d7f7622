// SPDX-License-Identifier: MIT
// The "stage" events and the progress in bytes, from a real run against
// stbsim: a reader learns that a box is there and that its download has
// begun from typed events, never from log text.
#include "line_support.h"

#include <csignal>
#include <gtest/gtest.h>

namespace {

using Event = std::map<std::string, std::string>;

// The stages in the order they came, and where each and the first progress
// event are among all the events of the run.
struct StageOrder {
    std::vector<std::string> stages;
    std::vector<size_t> at;
    size_t firstProgress = SIZE_MAX;
};

StageOrder Stages(const std::string& out)
{
    StageOrder o;
    const std::vector<std::string> lines = Lines(out);
    for (size_t i = 0; i < lines.size(); ++i) {
        Event e;
        EXPECT_TRUE(JsonCheck::Object(lines[i], &e)) << lines[i];
        if (e["event"] == "stage") {
            o.stages.push_back(e["stage"]);
            o.at.push_back(i);
            EXPECT_EQ(e.size(), 4u) << "event, time, port and stage only: " << lines[i];
        }
        if (e["event"] == "progress" && o.firstProgress == SIZE_MAX)
            o.firstProgress = i;
    }
    return o;
}

const std::vector<std::string> kBoxThenTransfer = {"box", "transfer"};

// An image of 150 KiB: its first block is below 1 %, so the first progress
// event already counts two blocks.
TEST(CliStage, ImageRunHasBoxThenTransferBeforeProgressAndCountsBytes)
{
    TempDir dir;
    const std::string payload = RandomBytes(150 * 1024 + 5, 41);
    ASSERT_TRUE(WriteFile(dir / "img.dat", MakeImage(payload)));
    const uint64_t size = Padded(payload).size();
    Child sim;
    ASSERT_TRUE(StartBox(&sim, dir / "img.dat", dir / "box")) << sim.err;
    Child cli;
    ASSERT_TRUE(cli.Spawn({kCli, "--json", "-p", dir / "box", dir / "img.dat"}));
    auto rc = cli.Wait(120000);
    ASSERT_TRUE(rc.has_value()) << cli.err;
    EXPECT_EQ(*rc, kExitSent) << cli.err;
    auto simRc = sim.Wait(30000);
    ASSERT_TRUE(simRc.has_value());
    EXPECT_EQ(*simRc, 0) << sim.out;

    const StageOrder o = Stages(cli.out);
    EXPECT_EQ(o.stages, kBoxThenTransfer) << cli.out.substr(0, 2000);
    ASSERT_NE(o.firstProgress, SIZE_MAX);
    for (size_t at : o.at)
        EXPECT_LT(at, o.firstProgress);

    // Bytes as the box acknowledged them, and the percentage they make.
    std::vector<Event> progress = Events(cli.out, "progress");
    ASSERT_EQ(progress.size(), 100u);
    for (const Event& p : progress) {
        const uint64_t bytes = std::stoull(p.at("bytes"));
        EXPECT_EQ(bytes % 1024, 0u) << bytes;
        EXPECT_EQ(std::stoi(p.at("percent")), int(bytes * 100 / size)) << bytes;
    }
    EXPECT_EQ(progress.front().at("bytes"), "2048");
    EXPECT_EQ(progress.back().at("bytes"), std::to_string(size));
}

TEST(CliStage, ServedRunHasBoxThenTransfer)
{
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "app.sdl", RandomBytes(40 * 1024, 43)));
    Child sim;
    ASSERT_TRUE(sim.Spawn({kSim, "--mode", "served", "--expect", dir / "app.sdl", "--chunk", "4096", "--timeout",
                           "60", "--link", dir / "box"}) &&
                sim.WaitForOutput(false, "stbsim: link ", 10000))
        << sim.err;
    Child cli;
    ASSERT_TRUE(cli.Spawn({kCli, "--json", "-p", dir / "box", dir / "app.sdl"}));
    auto simRc = sim.Wait(60000);
    ASSERT_TRUE(simRc.has_value());
    EXPECT_EQ(*simRc, 0) << sim.out;
    ASSERT_NO_FATAL_FAILURE(ExpectSignalEnds(cli, SIGINT, kExitSent));

    const StageOrder o = Stages(cli.out);
    EXPECT_EQ(o.stages, kBoxThenTransfer) << cli.out.substr(0, 2000);
}

// A box that is on but says nothing: no stage, and the run ends incomplete.
TEST(CliStage, NoStageWhenNoBoxTalks)
{
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "img.dat", MakeImage(RandomBytes(3000, 44))));
    Child sim;
    ASSERT_TRUE(StartSilentBox(&sim, dir / "box")) << sim.err;
    Child cli;
    ASSERT_TRUE(cli.Spawn({kCli, "--json", "--timeout", "1.5", "-p", dir / "box", dir / "img.dat"}));
    auto rc = cli.Wait(30000);
    ASSERT_TRUE(rc.has_value()) << cli.err;
    EXPECT_EQ(*rc, kExitIncomplete) << cli.err;
    EXPECT_TRUE(Events(cli.out, "stage").empty()) << cli.out;
    EXPECT_EQ(Events(cli.out, "result").size(), 1u) << cli.out;
    sim.Kill();
}

}  // namespace
