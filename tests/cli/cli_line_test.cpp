// SPDX-License-Identifier: MIT
// The production line: several stbsim boxes at once, station mode, the
// --json events, --log, --wait-port and ports chosen by USB identity.
#include "line_support.h"

#include <csignal>
#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <sstream>
#include <unistd.h>

namespace {

void ExpectBoxPassed(Child& sim)
{
    auto rc = sim.Wait(60000);
    ASSERT_TRUE(rc.has_value()) << "stbsim did not finish\n" << sim.out << sim.err;
    EXPECT_EQ(*rc, 0) << sim.out << sim.err;
    EXPECT_NE(sim.out.find("stbsim: PASS"), std::string::npos) << sim.out;
}

TEST(CliLine, FourBoxesAtOnceAllGetTheImage)
{
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "img.dat", MakeImage(RandomBytes(40 * 1024, 7))));
    Child boxes[4];
    const std::vector<std::string> ports =
        StartBoxes(boxes, 4, dir.path, dir / "img.dat", {"--junk-before-stx", "6"});
    ASSERT_EQ(ports.size(), 4u);
    Child cli;
    // Both ways of naming several ports.
    ASSERT_TRUE(
        cli.Spawn({kCli, "-p", ports[0] + "," + ports[1], "-p", ports[2], "--port", ports[3], dir / "img.dat"}));
    auto rc = cli.Wait(120000);
    ASSERT_TRUE(rc.has_value()) << cli.err;
    EXPECT_EQ(*rc, kExitSent) << cli.err;
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(ports[i]);
        ExpectBoxPassed(boxes[i]);
        std::string row = SummaryRow(cli.err, ports[i]);
        EXPECT_NE(row.find(" sent "), std::string::npos) << cli.err;
        EXPECT_NE(row.find(" 40960 "), std::string::npos) << row;
        // In a pipe: plain lines, each prefixed with its port; the box's
        // chatter on stdout the same way.
        EXPECT_NE(cli.err.find("[" + ports[i] + "] "), std::string::npos);
        EXPECT_NE(cli.err.find("  Velto file send OK!\n"), std::string::npos);
        EXPECT_NE(cli.out.find("[" + ports[i] + "] STB"), std::string::npos) << cli.out;
    }
    EXPECT_NE(cli.err.find("Every port succeeded."), std::string::npos) << cli.err;
    EXPECT_EQ(cli.err.find('\x1b'), std::string::npos) << "no live lines in a pipe";
}

TEST(CliLine, AMissingPortFailsAloneAndExitsSix)
{
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "img.dat", MakeImage(RandomBytes(8 * 1024, 8))));
    Child boxes[3];
    const std::vector<std::string> ports = StartBoxes(boxes, 3, dir.path, dir / "img.dat");
    ASSERT_EQ(ports.size(), 3u);
    const std::string missing = dir / "unplugged";
    Child cli;
    ASSERT_TRUE(cli.Spawn({kCli, "-p", ports[0], "-p", missing, "-p", ports[1], "-p", ports[2], dir / "img.dat"}));
    auto rc = cli.Wait(120000);
    ASSERT_TRUE(rc.has_value()) << cli.err;
    EXPECT_EQ(*rc, kExitSomeFailed) << cli.err;
    for (int i = 0; i < 3; ++i) {
        ExpectBoxPassed(boxes[i]);
        EXPECT_NE(SummaryRow(cli.err, ports[i]).find(" sent "), std::string::npos) << cli.err;
    }
    std::string row = SummaryRow(cli.err, missing);
    EXPECT_NE(row.find("port failed or lost"), std::string::npos) << cli.err;
    EXPECT_EQ(row.substr(row.size() - 2), " 3") << row;
    EXPECT_NE(cli.err.find("Some ports failed: " + missing + "\n"), std::string::npos) << cli.err;
}

// Every line of stdout is one JSON object of a known kind with the common
// members; the result agrees with what the box received.
void CheckEvents(const std::string& out, const std::map<std::string, const Child*>& simOf, bool station)
{
    static const std::regex kTime(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?[+-]\d\d:\d\d)");
    static const std::set<std::string> kKinds = {"start", "stage", "log", "progress", "box-output", "result"};
    std::map<std::string, std::vector<std::map<std::string, std::string>>> byPort;
    std::vector<std::string> lines = Lines(out);
    ASSERT_FALSE(lines.empty());
    ASSERT_EQ(out.back(), '\n');
    for (const std::string& line : lines) {
        std::map<std::string, std::string> m;
        ASSERT_TRUE(JsonCheck::Object(line, &m)) << "not a JSON object: " << line;
        ASSERT_TRUE(kKinds.count(m["event"])) << line;
        EXPECT_TRUE(std::regex_match(m["time"], kTime)) << line;
        ASSERT_TRUE(simOf.count(m["port"])) << line;
        EXPECT_EQ(m.count("box"), station ? 1u : 0u) << line;
        byPort[m["port"]].push_back(m);
    }
    for (const auto& [port, sim] : simOf) {
        SCOPED_TRACE(port);
        const auto& events = byPort[port];
        ASSERT_GE(events.size(), 3u);
        // Log lines of the port's opening may come first; then "start".
        size_t first = 0;
        while (first < events.size() && events[first].at("event") == "log")
            ++first;
        ASSERT_LT(first, events.size());
        const auto& start = events[first];
        const auto& result = events.back();
        EXPECT_EQ(start.at("event"), "start");
        EXPECT_EQ(start.at("mode"), "image");
        EXPECT_EQ(result.at("event"), "result");
        EXPECT_EQ(result.at("ok"), "true");
        EXPECT_EQ(result.at("exit_code"), "0");
        EXPECT_EQ(result.at("reason"), "sent");
        const std::string sha = SimSha(*sim);
        ASSERT_EQ(sha.size(), 64u) << sim->out;
        EXPECT_EQ(start.at("sha256"), sha);
        EXPECT_EQ(result.at("sha256"), sha);
        std::string chatter;
        int lastPercent = 0;
        bool sentOk = false;
        for (const auto& e : events) {
            if (e.at("event") == "box-output")
                chatter += e.at("data");
            if (e.at("event") == "progress") {
                int p = atoi(e.at("percent").c_str());
                EXPECT_GT(p, lastPercent);
                lastPercent = p;
                EXPECT_LE(strtoull(e.at("bytes").c_str(), nullptr, 10),
                          strtoull(start.at("size").c_str(), nullptr, 10));
            }
            if (e.at("event") == "log" && e.at("level") == "done" && e.at("text") == "Velto file send OK!")
                sentOk = true;
        }
        EXPECT_EQ(lastPercent, 100);
        EXPECT_TRUE(sentOk);
        // stbsim's junk before the frames comes as "STB boot: " (raw bytes
        // escaped in the string).
        EXPECT_NE(chatter.find("STB"), std::string::npos) << chatter;
    }
}

TEST(CliLine, JsonEventsParseLineByLineAlone)
{
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "img.dat", MakeImage(RandomBytes(10 * 1024 + 3, 9))));
    Child sim;
    ASSERT_TRUE(StartBox(&sim, dir / "img.dat", dir / "box", {"--junk-before-stx", "12"})) << sim.err;
    Child cli;
    ASSERT_TRUE(cli.Spawn({kCli, "--json", "-p", dir / "box", dir / "img.dat"}));
    auto rc = cli.Wait(120000);
    ASSERT_TRUE(rc.has_value()) << cli.err;
    EXPECT_EQ(*rc, kExitSent) << cli.err;
    ExpectBoxPassed(sim);
    CheckEvents(cli.out, {{dir / "box", &sim}}, false);
    // The human lines stay on stderr.
    EXPECT_NE(cli.err.find("  Velto file send OK!\n"), std::string::npos) << cli.err;
}

TEST(CliLine, JsonEventsParseLineByLineForSeveralPorts)
{
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "img.dat", MakeImage(RandomBytes(6 * 1024, 10))));
    Child a, b;
    ASSERT_TRUE(StartBox(&a, dir / "img.dat", dir / "a", {"--junk-before-stx", "3"})) << a.err;
    ASSERT_TRUE(StartBox(&b, dir / "img.dat", dir / "b", {"--junk-before-stx", "3"})) << b.err;
    Child cli;
    ASSERT_TRUE(cli.Spawn({kCli, "--json", "-p", dir / "a", "-p", dir / "b", dir / "img.dat"}));
    auto rc = cli.Wait(120000);
    ASSERT_TRUE(rc.has_value()) << cli.err;
    EXPECT_EQ(*rc, kExitSent) << cli.err;
    ExpectBoxPassed(a);
    ExpectBoxPassed(b);
    CheckEvents(cli.out, {{dir / "a", &a}, {dir / "b", &b}}, false);
    EXPECT_NE(cli.err.find("Summary:"), std::string::npos) << cli.err;
}

// Three boxes in a row on one port (the simulator's pty goes away and comes
// back between them), then the operator's stop: the signal to the parent
// alone, or to the whole process group as a terminal's Ctrl-C sends it.
class Station : public ::testing::TestWithParam<bool> {};

TEST_P(Station, ThreeBoxesInARowThenStop)
{
    const bool wholeGroup = GetParam();
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "img.dat", MakeImage(RandomBytes(5000, 12))));
    const std::string port = dir / "station";
    Child cli;
    ASSERT_TRUE(cli.Spawn({kCli, "--loop", "--json", "--log", dir / "station.log", "-p", port, dir / "img.dat"}));
    for (int i = 1; i <= 3; ++i) {
        SCOPED_TRACE(i);
        Child sim;
        ASSERT_TRUE(StartBox(&sim, dir / "img.dat", port)) << sim.err;
        ExpectBoxPassed(sim);
        ASSERT_TRUE(cli.WaitForOutput(true, "Box " + std::to_string(i) + ": PASS", 60000)) << cli.err;
    }
    if (wholeGroup)
        kill(-cli.pid, SIGINT);
    else
        cli.Signal(SIGTERM);
    auto rc = cli.Wait(30000);
    ASSERT_TRUE(rc.has_value()) << cli.err;
    EXPECT_EQ(*rc, kExitSent) << cli.err;
    std::string row = SummaryRow(cli.err, port);
    EXPECT_TRUE(std::regex_search(row, std::regex(R"(\s3\s+3\s+0\s)"))) << cli.err;
    EXPECT_NE(cli.err.find("passed 3, failed 0"), std::string::npos) << cli.err;
    // One result event per box, numbered.
    std::vector<std::string> results;
    for (const std::string& line : Lines(cli.out)) {
        std::map<std::string, std::string> m;
        ASSERT_TRUE(JsonCheck::Object(line, &m)) << line;
        ASSERT_TRUE(m.count("box")) << line;
        if (m["event"] == "result" && m["ok"] == "true")
            results.push_back(m["box"]);
    }
    EXPECT_EQ(results, (std::vector<std::string>{"1", "2", "3"})) << cli.out;
    std::string log = ReadFileBytes(dir / "station.log");
    EXPECT_NE(log.find(" " + port + " Box 3: PASS"), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(Cli, Station, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "CtrlCToTheGroup" : "SigtermToTheParent"; });

// --timeout in station mode limits each box from its first word, not the
// wait for it; a box stopped so counts as failed, and the next one passes.
TEST(CliLine, StationTimeLimitFailsTheStuckBoxOnly)
{
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "img.dat", MakeImage(RandomBytes(8 * 1024, 16))));
    const std::string port = dir / "station";
    Child cli;
    ASSERT_TRUE(cli.Spawn({kCli, "--loop", "--timeout", "3", "-p", port, dir / "img.dat"}));
    // Longer than the limit with no box: nothing is counted.
    usleep(3500 * 1000);
    {
        Child stuck;
        ASSERT_TRUE(StartBox(&stuck, dir / "img.dat", port, {"--silent-block", "3"})) << stuck.err;
        ASSERT_TRUE(cli.WaitForOutput(true, "Box 1: FAIL (incomplete)", 60000)) << cli.err;
        stuck.Kill();
    }
    Child good;
    ASSERT_TRUE(StartBox(&good, dir / "img.dat", port)) << good.err;
    ExpectBoxPassed(good);
    ASSERT_TRUE(cli.WaitForOutput(true, "Box 2: PASS", 60000)) << cli.err;
    ASSERT_NO_FATAL_FAILURE(ExpectSignalEnds(cli, SIGINT, kExitSomeFailed));
    EXPECT_TRUE(std::regex_search(SummaryRow(cli.err, port), std::regex(R"(\s2\s+1\s+1\s)"))) << cli.err;
    EXPECT_NE(cli.err.find("Time limit of 3 s reached for this box"), std::string::npos) << cli.err;
    EXPECT_NE(cli.err.find("Some boxes failed, on: " + port + "\n"), std::string::npos) << cli.err;
}

TEST(CliLine, LogFileKeepsEarlierLinesAndStampsEachWithThePort)
{
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "img.dat", MakeImage(RandomBytes(3000, 13))));
    ASSERT_TRUE(WriteFile(dir / "run.log", "an earlier line\n"));
    Child sim;
    ASSERT_TRUE(StartBox(&sim, dir / "img.dat", dir / "box")) << sim.err;
    Child cli;
    ASSERT_TRUE(cli.Spawn({kCli, "--log", dir / "run.log", "-p", dir / "box", dir / "img.dat"}));
    auto rc = cli.Wait(120000);
    ASSERT_TRUE(rc.has_value()) << cli.err;
    EXPECT_EQ(*rc, kExitSent) << cli.err;
    ExpectBoxPassed(sim);
    std::vector<std::string> lines = Lines(ReadFileBytes(dir / "run.log"));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "an earlier line");
    const std::regex stamped(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d )" + dir / "box" + " [^\r\n]+");
    for (size_t i = 1; i < lines.size(); ++i)
        EXPECT_TRUE(std::regex_match(lines[i], stamped)) << lines[i];
    EXPECT_NE(lines.back().find(" Velto file send OK!"), std::string::npos) << lines.back();
    // The same lines as on stderr, in the same order.
    size_t from = 0;
    for (size_t i = 1; i < lines.size(); ++i) {
        std::string text = lines[i].substr(20 + (dir / "box").size() + 1);
        size_t at = cli.err.find(text, from);
        EXPECT_NE(at, std::string::npos) << text;
        from = at == std::string::npos ? from : at;
    }
}

TEST(CliLine, WaitPortOpensAPortThatAppearsLater)
{
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "img.dat", MakeImage(RandomBytes(3000, 14))));
    Child cli;
    ASSERT_TRUE(cli.Spawn({kCli, "--wait-port", "60", "-p", dir / "late", dir / "img.dat"}));
    ASSERT_TRUE(cli.WaitForOutput(true, "Waiting up to 60 s for " + dir / "late", 30000)) << cli.err;
    usleep(1000 * 1000);
    Child sim;
    ASSERT_TRUE(StartBox(&sim, dir / "img.dat", dir / "late")) << sim.err;
    auto rc = cli.Wait(120000);
    ASSERT_TRUE(rc.has_value()) << cli.err;
    EXPECT_EQ(*rc, kExitSent) << cli.err;
    ExpectBoxPassed(sim);
}

TEST(CliLine, UsbIdentityPicksTheAdapterFromTheListing)
{
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "img.dat", MakeImage(RandomBytes(3000, 15))));
    Child sim;
    ASSERT_TRUE(StartBox(&sim, dir / "img.dat", dir / "adapter-b")) << sim.err;
    ASSERT_TRUE(WriteFile(dir / "listing", dir / "adapter-a\tusb:0403:6001:AAA1\n" + dir / "adapter-b" +
                                               "\tusb:0403:6001:BBB2\n" + dir / "other\tusb:1a86:7523\n"));
    const std::vector<std::string> env = {"MARBRIX_PORT_LISTING=" + dir / "listing"};

    // --list-ports shows the identity as -p takes it.
    std::string out, err;
    SpawnOptions so;
    so.env = env;
    Child list;
    ASSERT_TRUE(list.Spawn({kCli, "--list-ports"}, so));
    ASSERT_EQ(list.Wait(30000), 0) << list.err;
    EXPECT_TRUE(std::regex_search(list.out, std::regex("(^|\n)" + dir / "adapter-b" + "\t.*\tusb:0403:6001:BBB2\n")))
        << list.out;

    // None or several matching: a usage error naming the candidates.
    const struct {
        const char* port;
        const char* says;
    } bad[] = {{"usb:0403:6001", "2 USB serial adapters match usb:0403:6001"},
               {"usb:0403:6015", "no USB serial adapter matches usb:0403:6015; the adapters are:"},
               {"usb:xyz:1", "a USB identity is usb:VID:PID"}};
    for (const auto& c : bad) {
        SCOPED_TRACE(c.port);
        Child cli;
        ASSERT_TRUE(cli.Spawn({kCli, "-p", c.port, dir / "img.dat"}, so));
        EXPECT_EQ(cli.Wait(30000), kExitUsage);
        EXPECT_NE(cli.err.find(c.says), std::string::npos) << cli.err;
        if (std::string(c.port) != "usb:xyz:1") {
            EXPECT_NE(cli.err.find("usb:0403:6001:AAA1  " + dir / "adapter-a"), std::string::npos) << cli.err;
        }
    }

    // The serial number picks one; ids in any case.
    Child cli;
    ASSERT_TRUE(cli.Spawn({kCli, "--json", "-p", "usb:0403:6001:BBB2", dir / "img.dat"}, so));
    auto rc = cli.Wait(120000);
    ASSERT_TRUE(rc.has_value()) << cli.err;
    EXPECT_EQ(*rc, kExitSent) << cli.err;
    ExpectBoxPassed(sim);
    EXPECT_NE(cli.out.find("\"port\":\"usb:0403:6001:BBB2\""), std::string::npos) << cli.out;
}

}  // namespace
