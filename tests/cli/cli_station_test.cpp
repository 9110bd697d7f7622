// SPDX-License-Identifier: MIT
// Station mode's count of boxes when a line drops or a child dies, and the
// log file as part of the record: against stbsim boxes on ptys, every wait
// bounded.
#include "line_support.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <regex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Five blocks of 1 KiB once padded.
std::string FiveBlockImage(unsigned seed)
{
    return MakeImage(RandomBytes(5000, seed));
}

// Polls `done` until it holds, for at most timeoutMs.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs)
{
    for (int waited = 0; !done(); waited += 50) {
        if (waited >= timeoutMs)
            return false;
        usleep(50 * 1000);
    }
    return true;
}

bool Matches(const std::string& text, const std::string& pattern)
{
    return std::regex_search(text, std::regex(pattern));
}

// A box whose line drops after it began the transfer holds part of an image
// and counts as failed; a port that comes and goes before any transfer is no
// box. Block 1: the handshake alone shows the transfer began (no block was
// acknowledged yet); block 3: two blocks were.
class StationLostLine : public ::testing::TestWithParam<int> {};

TEST_P(StationLostLine, CountsTheBoxButNotAPortGoneBeforeTheTransfer)
{
    const int block = GetParam();
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "img.dat", FiveBlockImage(21)));
    const std::string port = dir / "station";
    Child cli;
    ASSERT_TRUE(cli.Spawn({kCli, "--loop", "--json", "--log", dir / "station.log", "-p", port, dir / "img.dat"}));
    {
        Child silent;
        ASSERT_TRUE(StartSilentBox(&silent, port)) << silent.err;
        ASSERT_TRUE(cli.WaitForOutput(true, "Open Successful!", 30000)) << cli.err;
        silent.Signal(SIGTERM);  // its pty and link go away
        ASSERT_TRUE(silent.Wait(10000).has_value());
        ASSERT_TRUE(cli.WaitForOutput(true, "waiting for it to come back", 30000)) << cli.err;
    }
    {
        Child broken;
        ASSERT_TRUE(StartBox(&broken, dir / "img.dat", port, {"--hang-up-block", std::to_string(block)}))
            << broken.err;
        ASSERT_TRUE(cli.WaitForOutput(true, "Box 1: FAIL (line lost during the transfer)", 60000)) << cli.err;
        ASSERT_TRUE(broken.Wait(30000).has_value());
        EXPECT_NE(broken.out.find("hung up on block " + std::to_string(block)), std::string::npos) << broken.out;
    }
    Child good;
    ASSERT_TRUE(StartBox(&good, dir / "img.dat", port)) << good.err;
    ASSERT_TRUE(cli.WaitForOutput(true, "Box 2: PASS (sent)", 60000)) << cli.err;
    ASSERT_EQ(good.Wait(30000), 0) << good.out;
    ASSERT_NO_FATAL_FAILURE(ExpectSignalEnds(cli, SIGTERM, kExitSomeFailed));
    EXPECT_TRUE(Matches(SummaryRow(cli.err, port), R"(\s2\s+1\s+1\s)")) << cli.err;
    EXPECT_NE(cli.err.find("Some boxes failed, on: " + port + "\n"), std::string::npos) << cli.err;
    EXPECT_EQ(cli.err.find("Every box passed."), std::string::npos) << cli.err;
    EXPECT_NE(ReadFileBytes(dir / "station.log").find(" " + port + " Box 1: FAIL (line lost during the transfer)"),
              std::string::npos);
    // The events: the port gone and the lost box each end with exit 3 (the
    // port gone keeps the number for the next box), then box 2 passes.
    int lost = 0, passed = 0;
    for (auto& r : Events(cli.out, "result")) {
        lost += r["box"] == "1" && r["exit_code"] == "3";
        passed += r["box"] == "2" && r["ok"] == "true";
    }
    EXPECT_EQ(lost, 2) << cli.out;
    EXPECT_EQ(passed, 1) << cli.out;
}

INSTANTIATE_TEST_SUITE_P(Cli, StationLostLine, ::testing::Values(1, 3),
                         [](const auto& info) { return "HangUpAtBlock" + std::to_string(info.param); });

// A child killed with SIGKILL writes no result event: the parent writes one
// for it. With a box in the middle of its transfer the box counts as failed;
// without one nothing is counted.
struct KilledCase {
    const char* name;
    bool boxTalks;
    const char* summaryRow;  // boxes, passed, failed
    int exitCode;
};

class StationKilledChild : public ::testing::TestWithParam<KilledCase> {};

TEST_P(StationKilledChild, ParentWritesTheResultEvent)
{
    const KilledCase& c = GetParam();
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "img.dat", MakeImage(RandomBytes(20 * 1024, 22))));
    const std::string port = dir / "station";
    Child cli;
    ASSERT_TRUE(cli.Spawn({kCli, "--loop", "--json", "-p", port, dir / "img.dat"}));
    Child box;
    if (c.boxTalks) {
        // Slow enough that the transfer is still running when the child dies.
        ASSERT_TRUE(StartBox(&box, dir / "img.dat", port, {"--pace", "9600"})) << box.err;
        ASSERT_TRUE(cli.WaitForOutput(false, "\"event\":\"progress\"", 60000)) << cli.out << cli.err;
    } else {
        ASSERT_TRUE(StartSilentBox(&box, port)) << box.err;
        ASSERT_TRUE(cli.WaitForOutput(false, "\"event\":\"start\"", 30000)) << cli.out << cli.err;
    }
    std::vector<pid_t> kids = ChildrenOf(cli.pid);
    ASSERT_EQ(kids.size(), 1u);
    ASSERT_EQ(kill(kids[0], SIGKILL), 0) << strerror(errno);
    ASSERT_TRUE(cli.WaitForOutput(false, "\"reason\":\"ended abnormally\"", 30000)) << cli.out << cli.err;
    if (c.boxTalks) {
        ASSERT_TRUE(cli.WaitForOutput(true, "Box 1: FAIL (ended abnormally)", 30000)) << cli.err;
    }
    // The box goes, and its port with it: once no child runs, nothing else
    // can be counted before the stop.
    box.Signal(SIGTERM);
    ASSERT_TRUE(box.Wait(10000).has_value());
    ASSERT_TRUE(WaitUntil([&] { return ChildrenOf(cli.pid).empty(); }, 30000));
    ASSERT_NO_FATAL_FAILURE(ExpectSignalEnds(cli, SIGTERM, c.exitCode));
    EXPECT_TRUE(Matches(SummaryRow(cli.err, port), c.summaryRow)) << cli.err;
    if (!c.boxTalks) {
        EXPECT_NE(cli.err.find("No box was counted."), std::string::npos) << cli.err;
        EXPECT_EQ(cli.err.find("Every box passed."), std::string::npos) << cli.err;
    }

    // Every line is still one JSON object; the parent's result names the
    // port, the box and the child's end (128 + SIGKILL).
    for (const std::string& line : Lines(cli.out)) {
        std::map<std::string, std::string> m;
        ASSERT_TRUE(JsonCheck::Object(line, &m)) << line;
    }
    std::map<std::string, std::string> killed;
    for (auto& r : Events(cli.out, "result"))
        if (r["reason"] == "ended abnormally")
            killed = r;
    EXPECT_EQ(killed["port"], port);
    EXPECT_EQ(killed["box"], "1");
    EXPECT_EQ(killed["ok"], "false");
    EXPECT_EQ(killed["exit_code"], std::to_string(128 + SIGKILL));
    EXPECT_TRUE(killed.count("seconds") && killed.count("time")) << cli.out;
}

INSTANTIATE_TEST_SUITE_P(Cli, StationKilledChild,
                         ::testing::Values(KilledCase{"DuringTheTransfer", true, R"(\s1\s+0\s+1\s)", kExitSomeFailed},
                                           KilledCase{"WhileWaitingForABox", false, R"(\s0\s+0\s+0\s)", kExitSent}),
                         [](const auto& info) { return std::string(info.param.name); });

// --log on a full disk: said at once and again at the end. A download keeps
// its own exit code; a station stops, since a line must not run without its
// record.
struct FullLogCase {
    const char* name;
    std::vector<std::string> modeArgs;
    int boxes;
    int exitCode;
    bool stationStops;
};

class LogFileFull : public ::testing::TestWithParam<FullLogCase> {};

TEST_P(LogFileFull, IsSaidAtOnceAndAtTheEnd)
{
    const FullLogCase& c = GetParam();
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "img.dat", FiveBlockImage(23)));
    std::vector<std::unique_ptr<Child>> boxes;
    std::vector<std::string> argv = {kCli, "--log", "/dev/full"};
    argv.insert(argv.end(), c.modeArgs.begin(), c.modeArgs.end());
    for (int i = 0; i < c.boxes; ++i) {
        const std::string port = dir / ("box" + std::to_string(i));
        boxes.push_back(std::make_unique<Child>());
        ASSERT_TRUE(StartBox(boxes.back().get(), dir / "img.dat", port)) << boxes.back()->err;
        argv.insert(argv.end(), {"-p", port});
    }
    argv.push_back(dir / "img.dat");
    Child cli;
    ASSERT_TRUE(cli.Spawn(argv));
    auto rc = cli.Wait(60000);
    ASSERT_TRUE(rc.has_value()) << cli.err;
    EXPECT_EQ(*rc, c.exitCode) << cli.err;
    const std::string atOnce = "Can't write to the log file /dev/full: " + std::string(strerror(ENOSPC));
    const size_t said = cli.err.find(atOnce);
    ASSERT_NE(said, std::string::npos) << cli.err;
    EXPECT_TRUE(Matches(cli.err, R"(The log file /dev/full is incomplete: \d+ lines could not be written)"))
        << cli.err;
    EXPECT_EQ(cli.err.find("The station stopped: it must not run without its log file.") != std::string::npos,
              c.stationStops)
        << cli.err;
    if (c.stationStops) {
        EXPECT_EQ(cli.err.find("Every box passed."), std::string::npos) << cli.err;
        return;
    }
    // The downloads ran to their end after the warning.
    EXPECT_LT(said, cli.err.find("Velto file send OK!")) << cli.err;
    for (auto& box : boxes)
        EXPECT_EQ(box->Wait(30000), 0) << box->out;
}

INSTANTIATE_TEST_SUITE_P(Cli, LogFileFull,
                         ::testing::Values(FullLogCase{"OneDownload", {}, 1, kExitSent, false},
                                           FullLogCase{"SeveralPortsOnce", {}, 2, kExitSent, false},
                                           FullLogCase{"Station", {"--loop"}, 1, kExitSomeFailed, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// --log naming a FIFO or a socket is refused at once (exit 4, as for the
// download file), with or without a reader on the FIFO: nothing may wait.
struct RefusedLogCase {
    const char* name;
    const char* kind;  // "fifo", "fifo+reader" or "socket"
    bool station;
    const char* says;
};

class LogFileRefused : public ::testing::TestWithParam<RefusedLogCase> {};

TEST_P(LogFileRefused, ExitsFourWithoutWaiting)
{
    const RefusedLogCase& c = GetParam();
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "img.dat", FiveBlockImage(24)));
    const std::string log = dir / "log";
    int reader = -1, sock = -1;
    if (std::string(c.kind) == "socket") {
        sock = socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_GE(sock, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        ASSERT_LT(log.size(), sizeof addr.sun_path);
        memcpy(addr.sun_path, log.c_str(), log.size() + 1);
        ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << strerror(errno);
        ASSERT_EQ(listen(sock, 1), 0);
    } else {
        ASSERT_EQ(mkfifo(log.c_str(), 0600), 0) << strerror(errno);
        if (std::string(c.kind) == "fifo+reader") {
            ASSERT_GE(reader = open(log.c_str(), O_RDONLY | O_NONBLOCK), 0);
        }
    }
    std::vector<std::string> argv = {kCli, "--log", log, "-p", dir / "no-port"};
    if (c.station)
        argv.insert(argv.begin() + 1, "--loop");
    argv.push_back(dir / "img.dat");
    Child cli;
    ASSERT_TRUE(cli.Spawn(argv));
    auto rc = cli.Wait(10000);
    if (reader >= 0)
        close(reader);
    if (sock >= 0)
        close(sock);
    ASSERT_TRUE(rc.has_value()) << "the CLI waited on the log file\n" << cli.err;
    EXPECT_EQ(*rc, kExitFile) << cli.err;
    EXPECT_NE(cli.err.find("Can't open the log file " + log + ": not a regular file or a device (" + c.says),
              std::string::npos)
        << cli.err;
}

INSTANTIATE_TEST_SUITE_P(Cli, LogFileRefused,
                         ::testing::Values(RefusedLogCase{"Fifo", "fifo", false, "a FIFO"},
                                           RefusedLogCase{"FifoWithReader", "fifo+reader", false, "a FIFO"},
                                           RefusedLogCase{"Socket", "socket", false, "a socket"},
                                           RefusedLogCase{"FifoInStation", "fifo", true, "a FIFO"},
                                           RefusedLogCase{"SocketInStation", "socket", true, "a socket"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
