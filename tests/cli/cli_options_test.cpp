// SPDX-License-Identifier: MIT
// The command line rules that decide what a download does.
#include "options.h"

#include <gtest/gtest.h>

namespace {

TEST(CliOptions, DefaultsAndOverrides)
{
    ParseResult r = ParseCommandLine({"app.sdl"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.options.download.port, "COM2");
    EXPECT_EQ(r.options.download.baud, 115200u);
    EXPECT_FALSE(DownloadIsImage(r.options.download));

    r = ParseCommandLine({"--image", "-p", "/dev/pts/7", "--baud=9600", "--timeout", "2.5", "app.sdl"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.options.download.port, "/dev/pts/7");
    EXPECT_EQ(r.options.download.baud, 9600u);
    EXPECT_DOUBLE_EQ(r.options.download.timeoutSec, 2.5);
    EXPECT_TRUE(DownloadIsImage(r.options.download));

    r = ParseCommandLine({"--served", "app.DAT"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_FALSE(DownloadIsImage(r.options.download));
}

TEST(CliOptions, EveryRateOfTheListIsAccepted)
{
    for (const char* rate :
         {"2400", "4800", "9600", "14400", "19200", "38400", "57600", "115200", "230400", "460800", "921600"}) {
        ParseResult r = ParseCommandLine({"-b", rate, "f"});
        EXPECT_TRUE(r.ok) << rate << ": " << r.error;
    }
    for (const char* rate : {"0", "300", "1200", "28800", "-9600", "115200x"})
        EXPECT_FALSE(ParseCommandLine({"-b", rate, "f"}).ok) << rate;
}

TEST(CliOptions, PackFields)
{
    ParseResult r = ParseCommandLine(
        {"pack", "--version", "255.-1", "--service-word", "0xA1b2C3d4", "--mask-key", "7f", "p.bin", "-o", "o.dat"});
    ASSERT_TRUE(r.ok) << r.error;
    const PackOptions& p = r.options.pack;
    EXPECT_EQ(p.major, 0xFF);
    EXPECT_EQ(p.minor, 0xFF);
    EXPECT_EQ(p.serviceWord[0], 0xA1);
    EXPECT_EQ(p.serviceWord[3], 0xD4);
    EXPECT_EQ(p.maskKey, 0x7F);
    EXPECT_EQ(p.payload, "p.bin");
    EXPECT_EQ(p.out, "o.dat");
    for (const char* v : {"256.0", "1.-129", "1", "a.b", ".1"})
        EXPECT_FALSE(ParseCommandLine({"pack", "--version", v, "--service-word", "00000000", "p", "-o", "o"}).ok)
            << v;
}

TEST(CliOptions, SeveralPorts)
{
    ParseResult r =
        ParseCommandLine({"-p", "/dev/ttyUSB0,/dev/ttyUSB1", "--port=COM3", "-p", "usb:0403:6001", "f.dat"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.options.download.ports,
              (std::vector<std::string>{"/dev/ttyUSB0", "/dev/ttyUSB1", "COM3", "usb:0403:6001"}));
    EXPECT_EQ(r.options.download.port, "/dev/ttyUSB0");

    // A port given twice, also under its other name, and empty list items.
    const std::vector<std::vector<std::string>> bad = {
        {"-p", "/dev/ttyUSB0", "-p", "/dev/ttyUSB0", "f.dat"},
        {"-p", "COM1,/dev/ttyS0", "f.dat"},
        {"-p", "a,,b", "f.dat"},
        {"-p", "a,", "f.dat"},
    };
    for (const auto& args : bad)
        EXPECT_FALSE(ParseCommandLine(args).ok) << args[1];
    EXPECT_EQ(ParseCommandLine({"-p", "x", "-p", "x", "f"}).error, "port x is given twice");
}

TEST(CliOptions, ProductionLineOptions)
{
    ParseResult r = ParseCommandLine({"--loop", "--json", "--log", "run.log", "--wait-port=2.5", "f.dat"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.options.download.loop);
    EXPECT_TRUE(r.options.download.json);
    EXPECT_EQ(r.options.download.logFile, "run.log");
    EXPECT_DOUBLE_EQ(r.options.download.waitPortSec, 2.5);

    // Station mode wants an ending download: an image.
    EXPECT_FALSE(ParseCommandLine({"--loop", "app.sdl"}).ok);
    EXPECT_TRUE(ParseCommandLine({"--loop", "--image", "app.sdl"}).ok);
    for (const char* v : {"0", "-1", "x", "", "nan"})
        EXPECT_FALSE(ParseCommandLine({"--wait-port", v, "f.dat"}).ok) << v;
    EXPECT_FALSE(ParseCommandLine({"--log", "", "f.dat"}).ok);
}

TEST(CliOptions, TheReaderKeepsItsOldRules)
{
    // An option given twice: the last counts. Values after "=", or next.
    ParseResult r =
        ParseCommandLine({"-b", "9600", "--baud=57600", "--timeout", "1", "--timeout=2", "--image", "--image", "f"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.options.download.baud, 57600u);
    EXPECT_DOUBLE_EQ(r.options.download.timeoutSec, 2);
    // "--" ends the options; help and version win wherever they stand.
    r = ParseCommandLine({"--", "-odd name.dat"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.options.download.file, "-odd name.dat");
    EXPECT_EQ(ParseCommandLine({"--bogus", "--help"}).options.command, CliCommand::Help);
    EXPECT_EQ(ParseCommandLine({"f", "-V"}).options.command, CliCommand::Version);
    // The messages scripts have seen all along.
    const struct {
        std::vector<std::string> args;
        const char* error;
    } cases[] = {
        {{"--bogus", "a.dat"}, "unknown option --bogus"},
        {{"a.dat", "-p"}, "option --port needs a value"},
        {{"a.dat", "--timeout"}, "option --timeout needs a value"},
        {{"a.dat", "b.dat"}, "only one download FILE"},
        {{}, "no download FILE given"},
        {{"pack", "--bogus"}, "unknown pack option --bogus"},
        {{"pack", "--version", "1.2", "--service-word", "11223344", "a", "b", "-o", "x"},
         "pack takes one PAYLOAD file"},
        {{"pack", "--version", "1.2", "p", "-o", "x"}, "pack needs --version and --service-word"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseCommandLine(c.args).error, c.error);
}

}  // namespace
