// SPDX-License-Identifier: MIT
// marbrix-cli as a process: its command line, the image helpers, the port and
// file failures, and the way a download ends, against a pty the test holds.
#include "test_support.h"

#include "serial_port.h"

#include <csignal>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct UsageCase {
    const char* name;
    std::vector<std::string> args;
    const char* mentions;
};

class UsageErrors : public ::testing::TestWithParam<UsageCase> {};

TEST_P(UsageErrors, ExitOneWithTheReason)
{
    const UsageCase& c = GetParam();
    std::vector<std::string> argv = {kCli};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    std::string out, err;
    EXPECT_EQ(RunCommand(argv, &out, &err), kExitUsage) << err;
    EXPECT_NE(err.find(c.mentions), std::string::npos) << err;
}

INSTANTIATE_TEST_SUITE_P(
    Cli, UsageErrors,
    ::testing::Values(
        UsageCase{"NoFile", {}, "no download FILE"},
        UsageCase{"UnknownOption", {"--bogus", "a.dat"}, "unknown option --bogus"},
        UsageCase{"BaudNotInTheList",
                  {"-b", "12345", "a.dat"},
                  "2400 4800 9600 14400 19200 38400 57600 115200 230400 460800 921600"},
        UsageCase{"BaudNotANumber", {"--baud=fast", "a.dat"}, "unsupported baud rate"},
        UsageCase{"PortWithoutValue", {"a.dat", "-p"}, "needs a value"},
        UsageCase{"BothModes", {"--image", "--served", "a.dat"}, "exclude each other"},
        UsageCase{"TwoFiles", {"a.dat", "b.dat"}, "only one"},
        UsageCase{"BadTimeout", {"--timeout", "0", "a.dat"}, "--timeout"},
        UsageCase{"InspectWithoutFile", {"inspect"}, "inspect"},
        UsageCase{"PackWithoutOutput", {"pack", "--version", "1.2", "--service-word", "11223344", "p.bin"}, "-o"},
        UsageCase{"PackShortServiceWord",
                  {"pack", "--version", "1.2", "--service-word", "1122", "p", "-o", "x"},
                  "8 hex digits"},
        UsageCase{"PackBadVersion",
                  {"pack", "--version", "1", "--service-word", "11223344", "p", "-o", "x"},
                  "MAJOR.MINOR"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CliHelp, HelpAndVersionExitZero)
{
    std::string out, err;
    ASSERT_EQ(RunCommand({kCli, "--help"}, &out, &err), 0);
    for (const char* s :
         {"--port", "--baud", "--image", "--served", "--timeout", "--list-ports", "inspect", "pack", "Exit codes"})
        EXPECT_NE(out.find(s), std::string::npos) << s;
    ASSERT_EQ(RunCommand({kCli, "--version"}, &out, &err), 0);
    EXPECT_NE(out.find("marbrix-cli"), std::string::npos);
}

TEST(CliListPorts, ListsNoPseudoTerminals)
{
    Pty pty;
    ASSERT_TRUE(pty.Open());
    std::string out, err;
    ASSERT_EQ(RunCommand({kCli, "--list-ports"}, &out, &err), 0) << err;
    EXPECT_EQ(out.find("/dev/pts/"), std::string::npos) << out;
}

// pack writes what the engine loads; inspect reads back what pack wrote.
struct PackCase {
    const char* name;
    std::string version;
    std::string maskKey;  // empty: the default
    size_t payloadSize;
    std::string inspectVersion;
    unsigned char expectKey;
    std::string blocks;
};

class PackInspect : public ::testing::TestWithParam<PackCase> {};

TEST_P(PackInspect, RoundTrip)
{
    const PackCase& c = GetParam();
    TempDir dir;
    std::string payload = RandomBytes(c.payloadSize, 7);
    ASSERT_TRUE(WriteFile(dir / "payload.bin", payload));
    std::vector<std::string> argv = {kCli, "pack", "--version", c.version, "--service-word", "A1B2C3D4"};
    if (!c.maskKey.empty())
        argv.insert(argv.end(), {"--mask-key", c.maskKey});
    argv.insert(argv.end(), {dir / "payload.bin", "-o", dir / "out.dat"});
    std::string out, err;
    ASSERT_EQ(RunCommand(argv, &out, &err), 0) << err;

    std::string file = ReadFileBytes(dir / "out.dat");
    std::string expected = MakeImage(payload, "\xA1\xB2\xC3\xD4", c.expectKey, 0, 0);
    ASSERT_EQ(file.size(), expected.size());
    EXPECT_EQ(file.substr(0, 9), expected.substr(0, 9)) << "mask key and masked magic";
    EXPECT_EQ(file.substr(11), expected.substr(11)) << "service word and payload";

    ASSERT_EQ(RunCommand({kCli, "inspect", dir / "out.dat"}, &out, &err), 0) << out << err;
    EXPECT_NE(out.find("valid image: yes"), std::string::npos) << out;
    EXPECT_NE(out.find("version: " + c.inspectVersion + "\n"), std::string::npos) << out;
    EXPECT_NE(out.find("service word: A1B2C3D4"), std::string::npos) << out;
    EXPECT_NE(out.find("payload: " + std::to_string(c.payloadSize) + " bytes"), std::string::npos) << out;
    EXPECT_NE(out.find("ymodem blocks: " + c.blocks + "\n"), std::string::npos) << out;

    // No temp file is left beside the result.
    std::string ls;
    RunCommand({"ls", "-A", dir.path}, &ls, nullptr);
    EXPECT_EQ(ls, "out.dat\npayload.bin\n");
}

INSTANTIATE_TEST_SUITE_P(
    Cli, PackInspect,
    ::testing::Values(PackCase{"PlainMagic", "1.2", "", 1, "1.2", 0x00, "1"},
                      PackCase{"LowerCaseMagic", "3.4", "20", 1009, "3.4", 0x20, "1"},
                      PackCase{"OneByteOverABlock", "0.0", "5a", 1025, "0.0", 0x5A, "2"},
                      PackCase{"HighBytesPrintSigned", "255.128", "ff", 3000, "-1.-128", 0xFF, "3"},
                      PackCase{"NegativeVersion", "-1.-2", "", 300 * 1024, "-1.-2", 0x00, "300"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CliPack, VersionBytesStandInTheHeader)
{
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "p", "x"));
    std::string out, err;
    ASSERT_EQ(RunCommand({kCli, "pack", "--version", "255.7", "--service-word", "0x01020304", dir / "p", "-o",
                          dir / "o.dat"},
                         &out, &err),
              0)
        << err;
    EXPECT_EQ(ReadFileBytes(dir / "o.dat"), MakeImage("x", "\x01\x02\x03\x04", 0, 0xFF, 7));
}

TEST(CliPack, FailuresLeaveNoFile)
{
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "empty", ""));
    ASSERT_TRUE(WriteFile(dir / "p", "payload"));
    const struct {
        std::string payload, output;
        int exit;
    } cases[] = {
        {dir / "empty", dir / "o.dat", kExitRejected},
        {dir / "missing", dir / "o.dat", kExitFile},
        {dir / "p", dir / "no/such/dir/o.dat", kExitFile},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.payload);
        std::string out, err;
        EXPECT_EQ(
            RunCommand({kCli, "pack", "--version", "1.0", "--service-word", "00000000", c.payload, "-o", c.output},
                       &out, &err),
            c.exit)
            << err;
    }
    std::string ls;
    RunCommand({"ls", "-A", dir.path}, &ls, nullptr);
    EXPECT_EQ(ls, "empty\np\n");
}

struct BadImage {
    const char* name;
    std::string content;
};

const BadImage kBadImages[] = {
    {"WrongMagicByte",
     [] {
         std::string f = MakeImage("payload");
         f[8] ^= 1;
         return f;
     }()},
    {"HeaderOnly", MakeImage("")},
    {"ShorterThanHeader", MakeImage("").substr(0, 5)},
    {"Empty", ""},
};

class InspectRejects : public ::testing::TestWithParam<BadImage> {};

TEST_P(InspectRejects, ExitTwo)
{
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "f.dat", GetParam().content));
    std::string out, err;
    EXPECT_EQ(RunCommand({kCli, "inspect", dir / "f.dat"}, &out, &err), kExitRejected) << out << err;
    EXPECT_NE(out.find("valid image: no"), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(Cli, InspectRejects, ::testing::ValuesIn(kBadImages),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CliInspect, UnreadableFileExitsFour)
{
    TempDir dir;
    std::string out, err;
    EXPECT_EQ(RunCommand({kCli, "inspect", dir / "missing.dat"}, &out, &err), kExitFile);
    EXPECT_EQ(RunCommand({kCli, "inspect", dir.path}, &out, &err), kExitFile);
}

// A rejected image ends the download at once, and the box hears nothing.
class RejectedImage : public ::testing::TestWithParam<BadImage> {};

TEST_P(RejectedImage, ExitTwoAndSilentLine)
{
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "f.dat", GetParam().content));
    Pty pty;
    ASSERT_TRUE(pty.Open());
    Child cli;
    ASSERT_TRUE(cli.Spawn({kCli, "-p", pty.slavePath, dir / "f.dat"}));
    auto rc = cli.Wait(20000);
    ASSERT_TRUE(rc.has_value()) << cli.err;
    EXPECT_EQ(*rc, kExitRejected) << cli.err;
    EXPECT_NE(cli.err.find("  BadFile Type! Abort Download\n"), std::string::npos) << cli.err;
    EXPECT_EQ(cli.err.find("Velto file send OK!"), std::string::npos);
    EXPECT_EQ(ReadQuiet(pty.master, 200, 2000), "");
}

INSTANTIATE_TEST_SUITE_P(Cli, RejectedImage, ::testing::ValuesIn(kBadImages),
                         [](const auto& info) { return std::string(info.param.name); });

// A pty has no low-latency flag to set: the refusal is traced, and the line
// is opened and used all the same.
TEST(CliPort, LowLatencyRefusalIsOnlyTraced)
{
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "f.dat", kBadImages[0].content));
    Pty pty;
    ASSERT_TRUE(pty.Open());
    Child cli;
    SpawnOptions o;
    o.env = {"MARBRIX_TRACE=1"};
    ASSERT_TRUE(cli.Spawn({kCli, "-p", pty.slavePath, dir / "f.dat"}, o));
    auto rc = cli.Wait(20000);
    ASSERT_TRUE(rc.has_value()) << cli.err;
    EXPECT_EQ(*rc, kExitRejected) << cli.err;
    const size_t refused = cli.err.find("marbrix-port: low latency: TIOCGSERIAL refused: ");
    EXPECT_NE(refused, std::string::npos) << cli.err;
    EXPECT_NE(cli.err.find("marbrix-port: configured "), std::string::npos) << cli.err;
    EXPECT_NE(cli.err.find("  BadFile Type! Abort Download\n"), std::string::npos) << cli.err;
}

// The port cannot be had: exit 3, the console's failure line, then why.
TEST(CliPort, MissingBusyOrNotASerialDevice)
{
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "img.dat", MakeImage("x")));
    Pty pty;
    ASSERT_TRUE(pty.Open());
    PortOpenError error;
    PortHandle holder = PortOpenDevice(pty.slavePath.c_str(), 115200, &error);
    ASSERT_NE(holder, nullptr) << error.text;

    struct {
        std::string port;
        std::string failLine;
        std::string reason;
    } cases[] = {
        {"/dev/marbrix-no-such-port", "marbrix-no-such-port:115200-8-1 Open failed!\r\n", "No such device"},
        {pty.slavePath, pty.slavePath.substr(5) + ":9600-8-1 Open failed!\r\n", "another program holds it"},
        {"/dev/null", "null:9600-8-1 Open failed!\r\n", "not a serial device"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.port);
        std::string out, err;
        std::string baud = c.port == cases[0].port ? "115200" : "9600";
        EXPECT_EQ(RunCommand({kCli, "-p", c.port, "-b", baud, dir / "img.dat"}, &out, &err), kExitPort);
        size_t at = err.find(c.failLine);
        ASSERT_NE(at, std::string::npos) << err;
        EXPECT_NE(err.find(c.reason, at), std::string::npos) << err;
        EXPECT_EQ(err.find("Open Successful"), std::string::npos);
    }
    PortCloseDevice(holder);
}

// Without the right to open the device, the CLI names the group that owns it.
TEST(CliPort, PermissionDeniedNamesTheOwningGroup)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to run the CLI as another user";
    passwd* nobody = getpwnam("nobody");
    if (!nobody)
        GTEST_SKIP() << "no user 'nobody'";
    Pty pty;
    ASSERT_TRUE(pty.Open());
    // A pty slave belongs to its creator and the group tty (mode 0620).
    struct stat st {};
    ASSERT_EQ(stat(pty.slavePath.c_str(), &st), 0);
    group* owner = getgrgid(st.st_gid);
    ASSERT_NE(owner, nullptr);

    // The build tree may sit where nobody cannot reach it (a checkout under
    // /root): run a copy from a folder of its own that anyone may enter.
    TempDir bin;
    const std::string cliCopy = bin / "marbrix-cli";
    const std::string program = ReadFileBytes(kCli);
    ASSERT_FALSE(program.empty()) << "cannot read " << kCli;
    ASSERT_TRUE(WriteFile(cliCopy, program)) << "cannot write " << cliCopy;
    ASSERT_EQ(chmod(bin.path.c_str(), 0755), 0);
    ASSERT_EQ(chmod(cliCopy.c_str(), 0755), 0);

    SpawnOptions o;
    o.runAsUid = int(nobody->pw_uid);
    o.runAsGid = int(nobody->pw_gid);
    o.cwd = bin.path;
    {
        Child probe;
        ASSERT_TRUE(probe.Spawn({cliCopy, "--version"}, o));
        auto rc = probe.Wait(20000);
        ASSERT_TRUE(rc.has_value());
        if (*rc == 126)
            GTEST_SKIP() << "cannot switch to user nobody here";
        if (*rc != 0)
            GTEST_SKIP() << "user nobody cannot run " << cliCopy << " (exit " << *rc << "): " << probe.err;
    }
    Child cli;
    ASSERT_TRUE(cli.Spawn({cliCopy, "-p", pty.slavePath, "/nonexistent.dat"}, o));
    auto rc = cli.Wait(20000);
    ASSERT_TRUE(rc.has_value());
    EXPECT_EQ(*rc, kExitPort) << cli.err;
    EXPECT_NE(cli.err.find("Open failed!\r\n"), std::string::npos) << cli.err;
    EXPECT_NE(cli.err.find("needs to be in the group '" + std::string(owner->gr_name) + "'"), std::string::npos)
        << cli.err;
}

TEST(CliFile, MissingDownloadFileExitsFour)
{
    TempDir dir;
    Pty pty;
    ASSERT_TRUE(pty.Open());
    std::string out, err;
    EXPECT_EQ(RunCommand({kCli, "-p", pty.slavePath, dir / "missing.sdl"}, &out, &err), kExitFile);
    EXPECT_NE(err.find("Open Successful!\r\n"), std::string::npos) << err;
    EXPECT_NE(err.find("  Can't open the download file!\r\n"), std::string::npos) << err;
}

// With no box on the line, --timeout stops the download as Abort would. The
// mode (by extension or forced) decides whether that counts as a failure.
struct TimeoutCase {
    const char* name;
    const char* fileName;
    std::vector<std::string> extra;
    bool image;
};

class TimeoutStops : public ::testing::TestWithParam<TimeoutCase> {};

TEST_P(TimeoutStops, AbortLineAndExitByMode)
{
    const TimeoutCase& c = GetParam();
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / c.fileName, MakeImage(RandomBytes(2000, 3))));
    Pty pty;
    ASSERT_TRUE(pty.Open());
    std::vector<std::string> argv = {kCli, "-p", pty.slavePath, "--timeout", "0.5"};
    argv.insert(argv.end(), c.extra.begin(), c.extra.end());
    argv.push_back(dir / c.fileName);
    Child cli;
    ASSERT_TRUE(cli.Spawn(argv));
    auto rc = cli.Wait(30000);
    ASSERT_TRUE(rc.has_value()) << cli.err;
    EXPECT_EQ(*rc, c.image ? kExitIncomplete : kExitSent) << cli.err;

    // In a pipe the log is plain: time stamp, two blanks, the text with its own ending.
    std::regex first("^[0-2][0-9]:[0-5][0-9]:[0-5][0-9]  " + pty.slavePath.substr(5) +
                     ":115200-8-1 Open Successful!\r\n");
    EXPECT_TRUE(std::regex_search(cli.err, first)) << cli.err;
    EXPECT_EQ(cli.err.find('\x1b'), std::string::npos);
    EXPECT_NE(cli.err.find("  [VUMO] User break off\r\n"), std::string::npos) << cli.err;
    EXPECT_EQ(cli.err.find("Velto File Download!\n") != std::string::npos, c.image) << cli.err;
    EXPECT_NE(cli.err.find("  VUMO 0.2 STB DownLoad Software.\r\n"), std::string::npos) << cli.err;
}

INSTANTIATE_TEST_SUITE_P(Cli, TimeoutStops,
                         ::testing::Values(TimeoutCase{"ImageByExtension", "app.DaTa", {}, true},
                                           TimeoutCase{"ServedShortExtension", "app.da", {}, false},
                                           TimeoutCase{"ServedNoExtension", "app", {}, false},
                                           TimeoutCase{"ImageForced", "app.sdl", {"--image"}, true},
                                           TimeoutCase{"ServedForced", "app.dat", {"--served"}, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CliSignal, SigtermStopsAServedDownload)
{
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "app.sdl", "served"));
    Pty pty;
    ASSERT_TRUE(pty.Open());
    Child cli;
    ASSERT_TRUE(cli.Spawn({kCli, "-p", pty.slavePath, dir / "app.sdl"}));
    ASSERT_TRUE(cli.WaitForOutput(true, "Start Download Service\r\n", 10000)) << cli.err;
    ASSERT_NO_FATAL_FAILURE(ExpectSignalEnds(cli, SIGTERM, kExitSent, 20000));
    EXPECT_NE(cli.err.find("  [VUMO] User break off\r\n"), std::string::npos) << cli.err;
}

}  // namespace
