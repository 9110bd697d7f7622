// SPDX-License-Identifier: MIT
// marbrix-station's command line: every form of port marbrix-cli takes, the
// station's own options, and the mistakes an operator or a kiosk script
// makes, answered in marbrix-cli's words.
#include "station_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Read {
    bool ok;
    StationOptions options;
    std::string message;
};

Read ReadLine(std::vector<std::string> args)
{
    args.insert(args.begin(), "marbrix-station");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    Read r;
    r.ok = ReadStationOptions(int(argv.size()), argv.data(), &r.options, &r.message);
    return r;
}

using Ports = std::vector<std::string>;

TEST(StationOptions, PortsAndOptionsAreRead)
{
    struct Case {
        std::vector<std::string> args;
        Ports ports;
        uint32_t baud;
        std::string results, file;
        bool once, start;
    };
    // clang-format off
    const Case cases[] = {
        {{}, {}, 115200, "", "", false, false},
        {{"fw.dat"}, {}, 115200, "", "fw.dat", false, false},
        {{"-p", "/dev/ttyUSB0", "-p", "COM3", "--port", "usb:0403:6001:A10K3B,/dev/pts/4", "-b", "921600",
          "--results", "/tmp/r.jsonl", "--once", "--start", "fw.DAT"},
         {"/dev/ttyUSB0", "COM3", "usb:0403:6001:A10K3B", "/dev/pts/4"}, 921600, "/tmp/r.jsonl", "fw.DAT", true, true},
        {{"--port=/dev/pts/1,/dev/pts/2", "-b", "460800", "--baud", "115200", "--", "-odd.data"},
         {"/dev/pts/1", "/dev/pts/2"}, 115200, "", "-odd.data", false, false},
        {{"fw.dat", "-p", "usb:403:6001"}, {"usb:403:6001"}, 115200, "", "fw.dat", false, false},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const Read r = ReadLine(c.args);
        ASSERT_TRUE(r.ok) << r.message;
        EXPECT_EQ(r.options.ports, c.ports);
        EXPECT_EQ(r.options.baud, c.baud);
        EXPECT_EQ(r.options.results, c.results);
        EXPECT_EQ(r.options.file, c.file);
        EXPECT_EQ(r.options.once, c.once);
        EXPECT_EQ(r.options.start, c.start);
        EXPECT_FALSE(r.options.help || r.options.version);
        EXPECT_EQ(r.message, "");
    }
}

TEST(StationOptions, MistakesAreToldInTheCliWords)
{
    struct Case {
        std::vector<std::string> args;
        std::string why;
    };
    const Case cases[] = {
        {{"-p", "/dev/pts/1,/dev/pts/1", "fw.dat"}, "port /dev/pts/1 is given twice"},
        {{"-p", "usb:0403:6001", "--port", "usb:403:6001", "fw.dat"}, "port usb:403:6001 is given twice"},
        {{"-p", "/dev/pts/1,", "fw.dat"}, "--port wants a device path or COM1..COM4"},
        {{"-b", "12345", "fw.dat"}, "unsupported baud rate '12345'; the rates are: "},
        {{"-p"}, "option --port needs a value"},
        {{"--results"}, "option --results needs a value"},
        {{"--results", "", "fw.dat"}, "--results wants a FILE name"},
        {{"--loop", "fw.dat"}, "unknown option --loop"},
        {{"a.dat", "b.dat"}, "only one download FILE"},
        {{"-p", "/dev/pts/1", "boot.bin"}, "the station sends image files"},
        {{"--start", "fw.dat"}, "--start needs the ports"},
        {{"--start", "-p", "/dev/pts/1"}, "--start needs the download FILE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const Read r = ReadLine(c.args);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.message.rfind("marbrix-station: " + c.why, 0), 0u) << r.message;
        EXPECT_NE(r.message.find("\nRun 'marbrix-station --help' for the options.\n"), std::string::npos);
    }
}

TEST(StationOptions, HelpAndVersionWinOverTheRest)
{
    const Read help = ReadLine({"-p", "", "--bogus", "--help"});
    ASSERT_TRUE(help.ok);
    EXPECT_TRUE(help.options.help);
    EXPECT_EQ(help.message, StationUsageText());
    EXPECT_NE(help.message.find("--results FILE"), std::string::npos);

    const Read version = ReadLine({"--bogus", "-V"});
    ASSERT_TRUE(version.ok);
    EXPECT_TRUE(version.options.version);

    // After "--" they are file names.
    const Read file = ReadLine({"--", "--help"});
    EXPECT_FALSE(file.ok);
    EXPECT_FALSE(file.options.help);
}

}  // namespace
