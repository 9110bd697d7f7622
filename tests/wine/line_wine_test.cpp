// SPDX-License-Identifier: MIT
// The production line of marbrix-cli.exe under Wine: several COM ports at
// once and station mode, each port mapped (registry) to a symlink of its own
// in the build tree that the test points at a stbsim box's pty.
//
// Run by scripts/test-windows.sh, which maps COM7..COM10 and passes them in
// the environment; without them every test is skipped.
//
// Under Wine a console control event cannot be sent to a child's process
// group (GenerateConsoleCtrlEvent fails, with or without a console), so the
// children here are stopped through the stop event their parent hands down;
// Ctrl-C reaches the parent as SIGINT to its wine process.
#include "line_support.h"
#include "wine_port_fixture.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using wine::CliExe;
using wine::LineComs;
using wine::LinkOf;
using wine::SpawnCli;
using wine::WinPath;

// The command lines of the processes that name `text` (Wine's processes show
// theirs in /proc, a Windows child's with its DOS paths).
std::vector<std::string> ProcessesNaming(const std::string& text)
{
    std::vector<std::string> found;
    DIR* proc = opendir("/proc");
    if (!proc)
        return found;
    while (dirent* e = readdir(proc)) {
        char* end = nullptr;
        long pid = strtol(e->d_name, &end, 10);
        if (pid <= 0 || *end || pid == getpid())
            continue;
        std::ifstream in("/proc/" + std::string(e->d_name) + "/cmdline");
        std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::replace(cmdline.begin(), cmdline.end(), '\0', ' ');
        if (cmdline.find(text) != std::string::npos)
            found.push_back(std::string(e->d_name) + ": " + cmdline);
    }
    closedir(proc);
    return found;
}

// Waits (bounded) until no process names `text`; what is left otherwise.
std::vector<std::string> LeftBehind(const std::string& text, int timeoutMs)
{
    std::vector<std::string> left;
    for (int waited = 0; waited <= timeoutMs; waited += 100) {
        left = ProcessesNaming(text);
        if (left.empty())
            break;
        usleep(100 * 1000);
    }
    return left;
}

class WineLine : public wine::PortFixture {
protected:
    void SetUp() override
    {
        CheckPort(!CliExe().empty() && LineComs().size() >= 4,
                  "MARBRIX_CLI_EXE, MARBRIX_LINE_COMS, MARBRIX_COM_DIR, STBSIM, WINEPREFIX");
        for (const std::string& com : LineComs())
            ASSERT_NO_FATAL_FAILURE(CheckMapped(com, LinkOf(com)));
        coms = LineComs();
        // A blank in the folder's name: the children's command lines must
        // quote the file the way the C runtime splits them again.
        folder = dir / "line files";
        ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    }

    // An image box on `com` expecting `image`.
    void StartBox(const std::string& com, Child* sim, const std::string& image)
    {
        StartSimOn(LinkOf(com), sim, {"--mode", "image", "--expect", image, "--timeout", "120"});
    }

    // Every line of `out` one JSON object with its event kind and port.
    static void ExpectJsonLines(const std::string& out)
    {
        ASSERT_FALSE(out.empty());
        EXPECT_EQ(out.back(), '\n');
        for (const std::string& line : Lines(out)) {
            std::map<std::string, std::string> m;
            ASSERT_TRUE(JsonCheck::Object(line, &m)) << "not a JSON object: " << line;
            EXPECT_FALSE(m["event"].empty()) << line;
            EXPECT_FALSE(m["port"].empty()) << line;
        }
    }

    static std::map<std::string, std::string> ResultOf(const std::string& out, const std::string& port)
    {
        for (const auto& e : Events(out, "result"))
            if (e.at("port") == port)
                return e;
        return {};
    }

    // Waits until `count` runs have opened their port ("start" events).
    static bool WaitForStarts(Child* cli, size_t count, int timeoutMs)
    {
        for (int waited = 0; waited < timeoutMs; waited += 200) {
            if (Events(cli->out, "start").size() >= count)
                return true;
            cli->WaitForOutput(false, "\x01 not in any event", 200);
        }
        return false;
    }

    TempDir dir;
    std::string folder;
    std::vector<std::string> coms;
};

TEST_F(WineLine, FourBoxesAtOnceAllSentWithJson)
{
    const std::string image = folder + "/img.dat";
    ASSERT_TRUE(WriteFile(image, MakeImage(RandomBytes(16 * 1024, 21))));
    Child boxes[4];
    for (int i = 0; i < 4; ++i)
        ASSERT_NO_FATAL_FAILURE(StartBox(coms[i], &boxes[i], image));
    Child cli;
    const auto start = std::chrono::steady_clock::now();
    // Both ways of naming several ports.
    ASSERT_TRUE(
        SpawnCli(&cli, {"--json", "-p", coms[0] + "," + coms[1], "-p", coms[2], "--port", coms[3], WinPath(image)}));
    auto rc = cli.Wait(180000);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_TRUE(rc.has_value()) << cli.err;
    EXPECT_EQ(*rc, kExitSent) << cli.err;
    printf("four 16 KiB images at once under Wine: %.2f s\n", seconds);
    ASSERT_NO_FATAL_FAILURE(ExpectJsonLines(cli.out));
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(coms[i]);
        ExpectSimPass(boxes[i], 30000);
        const auto result = ResultOf(cli.out, coms[i]);
        ASSERT_FALSE(result.empty()) << cli.out;
        EXPECT_EQ(result.at("ok"), "true");
        EXPECT_EQ(result.at("exit_code"), "0");
        EXPECT_NE(SummaryRow(cli.err, coms[i]).find(" sent "), std::string::npos) << cli.err;
    }
    EXPECT_NE(cli.err.find("Every port succeeded."), std::string::npos) << cli.err;
}

TEST_F(WineLine, AMissingPortFailsAloneAndExitsSix)
{
    const std::string image = folder + "/img.dat";
    ASSERT_TRUE(WriteFile(image, MakeImage(RandomBytes(4 * 1024, 22))));
    Child boxes[3];
    for (int i = 0; i < 3; ++i)
        ASSERT_NO_FATAL_FAILURE(StartBox(coms[i], &boxes[i], image));
    // The fourth port's adapter is unplugged: its mapping leads nowhere.
    ASSERT_NO_FATAL_FAILURE(PointLinkAt(LinkOf(coms[3]), dir / "unplugged"));
    Child cli;
    ASSERT_TRUE(SpawnCli(&cli, {"--json", "-p", coms[0], "-p", coms[3], "-p", coms[1], "-p", coms[2], "--log",
                                WinPath(dir / "line.log"), WinPath(image)}));
    auto rc = cli.Wait(180000);
    ASSERT_TRUE(rc.has_value()) << cli.err;
    EXPECT_EQ(*rc, kExitSomeFailed) << cli.err;
    ASSERT_NO_FATAL_FAILURE(ExpectJsonLines(cli.out));
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(coms[i]);
        ExpectSimPass(boxes[i], 30000);
        EXPECT_EQ(ResultOf(cli.out, coms[i])["ok"], "true") << cli.out;
    }
    const auto missing = ResultOf(cli.out, coms[3]);
    ASSERT_FALSE(missing.empty()) << cli.out;
    EXPECT_EQ(missing.at("ok"), "false");
    EXPECT_EQ(missing.at("exit_code"), std::to_string(kExitPort));
    EXPECT_NE(cli.err.find("Some ports failed: " + coms[3] + "\n"), std::string::npos) << cli.err;
    // The log file has every port's lines, each stamped with its port.
    const std::string log = ReadFileBytes(dir / "line.log");
    for (const std::string& com : coms)
        EXPECT_NE(log.find(" " + com + " "), std::string::npos) << log;
}

// Three boxes in a row on one port, then Ctrl-C (SIGINT to the parent's
// wine process alone): the waiting child is asked to stop, the station ends
// with its summary, and no process of ours is left.
TEST_F(WineLine, StationThreeBoxesInARowThenStopLeavesNothing)
{
    const std::string image = folder + "/img.dat";
    ASSERT_TRUE(WriteFile(image, MakeImage(RandomBytes(3000, 23))));
    // Nothing on the port until the first box comes.
    ASSERT_NO_FATAL_FAILURE(PointLinkAt(LinkOf(coms[0]), dir / "no box yet"));
    Child cli;
    ASSERT_TRUE(SpawnCli(&cli, {"--loop", "--json", "-p", coms[0], WinPath(image)}));
    for (int i = 1; i <= 3; ++i) {
        SCOPED_TRACE(i);
        Child sim;
        ASSERT_NO_FATAL_FAILURE(StartBox(coms[0], &sim, image));
        ExpectSimPass(sim, 60000);
        ASSERT_TRUE(cli.WaitForOutput(true, "Box " + std::to_string(i) + ": PASS", 60000)) << cli.err;
    }
    // A port that is there with no box on it: the next child opens it and
    // waits; the stop has to reach that child.
    const size_t startsBefore = Events(cli.out, "start").size();
    Pty quiet;
    ASSERT_TRUE(quiet.Open());
    ASSERT_NO_FATAL_FAILURE(PointLinkAt(LinkOf(coms[0]), quiet.slavePath));
    ASSERT_TRUE(WaitForStarts(&cli, startsBefore + 1, 30000)) << cli.err;
    cli.Signal(SIGINT);
    auto rc = cli.Wait(30000);
    ASSERT_TRUE(rc.has_value()) << cli.err;
    EXPECT_EQ(*rc, kExitSent) << cli.err;
    EXPECT_NE(cli.err.find("passed 3, failed 0"), std::string::npos) << cli.err;
    EXPECT_TRUE(std::regex_search(SummaryRow(cli.err, coms[0]), std::regex(R"(\s3\s+3\s+0\s)"))) << cli.err;
    ASSERT_NO_FATAL_FAILURE(ExpectJsonLines(cli.out));
    std::vector<std::string> passed;
    for (const auto& e : Events(cli.out, "result"))
        if (e.at("ok") == "true")
            passed.push_back(e.at("box"));
    EXPECT_EQ(passed, (std::vector<std::string>{"1", "2", "3"})) << cli.out;
    const auto left = LeftBehind(WinPath(image), 10000);
    EXPECT_TRUE(left.empty()) << "still running: " << left.front();
}

// The parent killed outright (no handler runs): its Job object closes with
// it, and the system ends the child it held.
TEST_F(WineLine, KilledParentTakesItsChildrenAlong)
{
    const std::string image = folder + "/img.dat";
    ASSERT_TRUE(WriteFile(image, MakeImage(RandomBytes(3000, 24))));
    Pty quiet;  // a port that is there, with no box talking on it
    ASSERT_TRUE(quiet.Open());
    ASSERT_NO_FATAL_FAILURE(PointLinkAt(LinkOf(coms[0]), quiet.slavePath));
    Child cli;
    ASSERT_TRUE(SpawnCli(&cli, {"--loop", "--json", "-p", coms[0], WinPath(image)}));
    ASSERT_TRUE(WaitForStarts(&cli, 1, 30000)) << cli.err;
    // The child started with the DOS path of the program.
    const std::string childMark = WinPath(CliExe());
    ASSERT_FALSE(ProcessesNaming(childMark).empty()) << "no child found";
    cli.Signal(SIGKILL);
    auto rc = cli.Wait(10000);
    ASSERT_TRUE(rc.has_value());
    const auto left = LeftBehind(WinPath(image), 15000);
    EXPECT_TRUE(left.empty()) << "still running: " << left.front();
}

// Four downloads at once against one alone: figures only (the machine is
// shared), printed when MARBRIX_WINE_TIMES=1 asks for them.
TEST_F(WineLine, FourAtOnceAgainstOneAloneTimes)
{
    if (wine::Env("MARBRIX_WINE_TIMES") != "1")
        GTEST_SKIP() << "figures only: MARBRIX_WINE_TIMES=1 prints them";
    const std::string image = folder + "/img.dat";
    ASSERT_TRUE(WriteFile(image, MakeImage(RandomBytes(32 * 1024, 25))));
    auto run = [&](int ports) -> double {
        std::vector<Child> boxes(static_cast<size_t>(ports));
        std::vector<std::string> args = {"--json"};
        for (int i = 0; i < ports; ++i) {
            StartBox(coms[size_t(i)], &boxes[size_t(i)], image);
            args.insert(args.end(), {"-p", coms[size_t(i)]});
        }
        args.push_back(WinPath(image));
        Child cli;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(SpawnCli(&cli, args));
        auto rc = cli.Wait(180000);
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_TRUE(rc.has_value() && *rc == kExitSent) << cli.err;
        for (Child& b : boxes)
            ExpectSimPass(b, 30000);
        return s;
    };
    for (int ports : {1, 4}) {
        std::vector<double> times;
        for (int i = 0; i < 5; ++i)
            times.push_back(run(ports));
        std::sort(times.begin(), times.end());
        printf("%d port(s) at once, 32 KiB image each, 5 runs: median %.2f s, min %.2f s, max %.2f s\n", ports,
               times[2], times.front(), times.back());
    }
}

}  // namespace
