// SPDX-License-Identifier: MIT
// marbrix-cli.exe under Wine, across processes: the Windows program opens
// COM7, which Wine maps (registry) to a fixed symlink in the build tree; each
// test points that symlink at a pty whose other end is stbsim or the test.
//
// Run by scripts/test-windows.sh, which makes the prefix and the mapping and
// passes them in the environment; without them every test is skipped.
//
// What Wine cannot show, and so is not tested here:
//  - a second open of a COM port is not refused (share mode 0 is not
//    enforced), so "held by another program" (ERROR_ACCESS_DENIED) cannot
//    be made to happen; PortHeldByAnotherProgram skips when it sees that;
//  - cbOutQue is always 0 on a pty, so the wait for the transmit queue to
//    drain before each 256-byte piece of a served download never waits;
//  - a rate the driver refuses: a pty takes every rate the list offers.
#include "wine_port_fixture.h"

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using wine::CliExe;
using wine::Port;
using wine::SpawnCli;
using wine::WinPath;

class WineCli : public wine::PortFixture {
protected:
    void SetUp() override
    {
        CheckPort(!CliExe().empty(), "MARBRIX_CLI_EXE, MARBRIX_COM_LINK, MARBRIX_COM_NAME, STBSIM, WINEPREFIX");
    }

    TempDir dir;
};

TEST_F(WineCli, ImageArrivesIdentical)
{
    // Every byte value, and a last block that needs padding. (Block numbers
    // wrapping past 255 are the engine's business, tested on the virtual
    // line; here each byte is a WriteFile through Wine, some 6 s per 100 KiB.)
    ASSERT_TRUE(
        WriteFile(dir / "img.dat", MakeImage(RandomBytes(64 * 1024 + 100, 3), std::string("\x00\xFF\x10\x01", 4))));
    Child sim;
    ASSERT_NO_FATAL_FAILURE(StartSim(&sim, {"--mode", "image", "--expect", dir / "img.dat", "--timeout", "180"}));
    Child cli;
    ASSERT_TRUE(SpawnCli(&cli, {"-p", Port().com, WinPath(dir / "img.dat")}));
    auto rc = cli.Wait(200000);
    ASSERT_TRUE(rc.has_value()) << cli.err;
    EXPECT_EQ(*rc, kExitSent) << cli.err;
    EXPECT_NE(cli.err.find("  " + Port().com + ":115200-8-1 Open Successful!\r\n"), std::string::npos) << cli.err;
    EXPECT_NE(cli.err.find("  Velto file send OK!\n"), std::string::npos) << cli.err;
    ExpectSimPass(sim, 30000);
}

TEST_F(WineCli, ServedShuffledChunksArriveThenCtrlCEnds)
{
    const std::string file = RandomBytes(200 * 1024, 99);
    ASSERT_TRUE(WriteFile(dir / "app.sdl", file));
    Child sim;
    ASSERT_NO_FATAL_FAILURE(StartSim(&sim, {"--mode", "served", "--expect", dir / "app.sdl", "--chunk", "3000",
                                            "--shuffle=5", "--time-every", "8", "--timeout", "180"}));
    Child cli;
    ASSERT_TRUE(SpawnCli(&cli, {"-p", Port().com, WinPath(dir / "app.sdl")}));
    ExpectSimPass(sim, 200000);
    // Wine hands SIGINT to the console's control handler as Ctrl-C.
    ASSERT_NO_FATAL_FAILURE(ExpectSignalEnds(cli, SIGINT, kExitSent));
    EXPECT_NE(cli.err.find("  [VUMO] <= VUMO_TIME_REP\r\n"), std::string::npos) << cli.err;
    EXPECT_NE(cli.err.find("  [VUMO] User break off\r\n"), std::string::npos) << cli.err;
}

TEST_F(WineCli, RejectedImageExitsTwoWithNothingOnTheLine)
{
    std::string bad = MakeImage(RandomBytes(2000, 4));
    bad[3] ^= 0x40;  // the masked magic no longer matches
    ASSERT_TRUE(WriteFile(dir / "bad.dat", bad));
    Pty box;
    ASSERT_TRUE(box.Open());
    PointComAt(box.slavePath);
    Child cli;
    ASSERT_TRUE(SpawnCli(&cli, {"-p", Port().com, WinPath(dir / "bad.dat")}));
    auto rc = cli.Wait(30000);
    ASSERT_TRUE(rc.has_value()) << cli.err;
    EXPECT_EQ(*rc, kExitRejected) << cli.err;
    EXPECT_NE(cli.err.find("  BadFile Type! Abort Download\n"), std::string::npos) << cli.err;
    EXPECT_EQ(ReadQuiet(box.master, 200, 2000), "");
}

TEST_F(WineCli, MissingPortExitsThreeWithTheReason)
{
    // COM12 must be mapped to nothing at all (COM7..COM10 are the line's).
    ASSERT_EQ(access((Port().prefix + "/dosdevices/com12").c_str(), F_OK), -1) << "COM12 exists in this prefix";
    ASSERT_TRUE(WriteFile(dir / "app.sdl", "x"));
    Child cli;
    ASSERT_TRUE(SpawnCli(&cli, {"-p", "COM12", WinPath(dir / "app.sdl")}));
    auto rc = cli.Wait(30000);
    ASSERT_TRUE(rc.has_value()) << cli.err;
    EXPECT_EQ(*rc, kExitPort) << cli.err;
    EXPECT_NE(cli.err.find("  COM12:115200-8-1 Open failed!\r\n"), std::string::npos) << cli.err;
    // The system's own words follow the port's name.
    size_t reason = cli.err.find("No such port: COM12 (see --list-ports): cannot open \\\\.\\COM12: ");
    ASSERT_NE(reason, std::string::npos) << cli.err;
    EXPECT_GT(cli.err.find('\n', reason) - reason, 60u) << cli.err;
}

// The ports the system has registered; Wine registers the ones it maps.
TEST_F(WineCli, ListPortsShowsTheMappedPort)
{
    Child cli;
    ASSERT_TRUE(SpawnCli(&cli, {"--list-ports"}));
    auto rc = cli.Wait(30000);
    ASSERT_TRUE(rc.has_value()) << cli.err;
    EXPECT_EQ(*rc, 0) << cli.err;
    EXPECT_NE(("\n" + cli.out).find("\n" + Port().com + "\t" + Port().com + "\t"), std::string::npos) << cli.out;
}

// --timeout stops a download on a quiet line: a served download counts as
// done (0), an image that never went out as incomplete (5).
struct TimeoutCase {
    const char* name;
    const char* file;
    int exitCode;
};

class WineTimeout : public WineCli, public ::testing::WithParamInterface<TimeoutCase> {};

TEST_P(WineTimeout, EndsWithTheModesCode)
{
    const TimeoutCase& c = GetParam();
    ASSERT_TRUE(WriteFile(dir / c.file, MakeImage(RandomBytes(3000, 6))));
    Pty box;
    ASSERT_TRUE(box.Open());
    PointComAt(box.slavePath);
    Child cli;
    ASSERT_TRUE(SpawnCli(&cli, {"-p", Port().com, "--timeout", "1.5", WinPath(dir / c.file)}));
    auto rc = cli.Wait(30000);
    ASSERT_TRUE(rc.has_value()) << cli.err;
    EXPECT_EQ(*rc, c.exitCode) << cli.err;
    EXPECT_NE(cli.err.find("  Time limit of 1.5 s reached, stopping the download.\r\n"), std::string::npos)
        << cli.err;
    EXPECT_NE(cli.err.find("  [VUMO] User break off\r\n"), std::string::npos) << cli.err;
}

INSTANTIATE_TEST_SUITE_P(Wine, WineTimeout,
                         ::testing::Values(TimeoutCase{"Served", "app.sdl", kExitSent},
                                           TimeoutCase{"Image", "app.dat", kExitIncomplete}),
                         [](const auto& info) { return std::string(info.param.name); });

// The box's end of the line closes in the middle of a session: Wine's
// ClearCommError then fails (ERROR_NOT_READY), as Windows' does for a pulled
// USB adapter, and the CLI must call the port lost.
class WineLostPort : public WineCli, public ::testing::WithParamInterface<TimeoutCase> {};

TEST_P(WineLostPort, ExitThreeWithTheReason)
{
    const bool image = GetParam().exitCode != kExitSent;
    const std::string opening = image ? "\x02\xAA\x03" : "\x02\x01\x03";
    const std::string reply = image ? "\x02\xAB\xAC\x03" : "\x02\x01\x0A\x03";
    ASSERT_TRUE(WriteFile(dir / GetParam().file, MakeImage(RandomBytes(3000, 5))));
    Pty box;
    ASSERT_TRUE(box.Open());
    PointComAt(box.slavePath);
    Child cli;
    ASSERT_TRUE(SpawnCli(&cli, {"-p", Port().com, WinPath(dir / GetParam().file)}));
    ASSERT_TRUE(cli.WaitForOutput(true, "Start Download Service\r\n", 20000)) << cli.err;
    ASSERT_TRUE(WriteAll(box.master, opening.data(), opening.size()));
    std::string heard;
    ASSERT_TRUE(ReadUntil(box.master, &heard, reply, 10000)) << cli.err;

    close(box.master);
    box.master = -1;
    auto rc = cli.Wait(20000);
    ASSERT_TRUE(rc.has_value()) << "still running after the port went away\n" << cli.err;
    EXPECT_EQ(*rc, kExitPort) << cli.err;
    size_t lost = cli.err.find("  Serial port lost! Abort Download\n");
    ASSERT_NE(lost, std::string::npos) << cli.err;
    size_t reason = cli.err.find("  " + Port().com + " was lost: ", lost);
    ASSERT_NE(reason, std::string::npos) << cli.err;
    EXPECT_GT(cli.err.find('\n', reason) - reason, Port().com.size() + 14) << "no reason given\n" << cli.err;
    EXPECT_EQ(cli.err.find("Velto file send OK!"), std::string::npos) << cli.err;
}

INSTANTIATE_TEST_SUITE_P(Wine, WineLostPort,
                         ::testing::Values(TimeoutCase{"Served", "app.sdl", kExitSent},
                                           TimeoutCase{"Image", "app.dat", kExitIncomplete}),
                         [](const auto& info) { return std::string(info.param.name); });

// Windows refuses a second open of a port (share mode 0); Wine does not, so
// there the test can only say so.
TEST_F(WineCli, PortHeldByAnotherProgram)
{
    ASSERT_TRUE(WriteFile(dir / "app.sdl", "x"));
    Pty box;
    ASSERT_TRUE(box.Open());
    PointComAt(box.slavePath);
    Child first;
    ASSERT_TRUE(SpawnCli(&first, {"-p", Port().com, WinPath(dir / "app.sdl")}));
    ASSERT_TRUE(first.WaitForOutput(true, "Open Successful!", 20000)) << first.err;
    Child second;
    ASSERT_TRUE(SpawnCli(&second, {"-p", Port().com, "--timeout", "1", WinPath(dir / "app.sdl")}));
    auto rc = second.Wait(30000);
    first.Signal(SIGINT);
    first.Wait(10000);
    ASSERT_TRUE(rc.has_value()) << second.err;
    if (second.err.find("Open Successful!") != std::string::npos)
        GTEST_SKIP() << "Wine opened the port a second time: share mode 0 is not enforced here";
    EXPECT_EQ(*rc, kExitPort) << second.err;
    EXPECT_NE(second.err.find(Port().com + " is busy: another program holds it open"), std::string::npos)
        << second.err;
}

}  // namespace
