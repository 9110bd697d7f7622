// SPDX-License-Identifier: MIT
// Which ports the command line takes as one, and which adapter a usb:
// identity picks from a listing (MARBRIX_PORT_LISTING), in-process.
#include "options.h"
#include "test_support.h"
#include "usb_identity.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

TEST(CliPorts, APortNamedTwiceIsAUsageError)
{
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "ttyUSB0", ""));
    ASSERT_EQ(symlink((dir / "ttyUSB0").c_str(), (dir / "by-id").c_str()), 0);
    ASSERT_EQ(symlink((dir / "by-id").c_str(), (dir / "by-path").c_str()), 0);
    ASSERT_EQ(symlink((dir / "unplugged").c_str(), (dir / "dangling").c_str()), 0);
    struct Case {
        std::string a, b;
        bool same;
    } cases[] = {
        {"/dev/ttyUSB0", "/dev/ttyUSB0", true},
        {"COM1", "/dev/ttyS0", true},
        {"com2", "/dev/ttyS1", true},
        // A link is the device it leads to, through any number of links.
        {dir / "by-id", dir / "ttyUSB0", true},
        {dir / "by-path", dir / "by-id", true},
        {dir / "./ttyUSB0", dir / "ttyUSB0", true},
        // Where nothing exists there is nothing to resolve: names as given.
        {dir / "dangling", dir / "unplugged", false},
        {"/dev/ttyUSB0", "/dev/ttyUSB1", false},
        {"COM1", "COM2", false},
        // An identity names an adapter, its ids in any hex spelling.
        {"usb:403:6001", "usb:0403:6001", true},
        {"usb:0403:6001:A1", "usb:0403:6001:A1", true},
        {"usb:0403:6001:A1", "usb:0403:6001:A2", false},
        {"usb:0403:6001", "usb:0403:6001:A1", false},
        {"usb:0403:6001", "/dev/ttyUSB0", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.a + " / " + c.b);
        ParseResult r = ParseCommandLine({"-p", c.a, "-p", c.b, "f.dat"});
        EXPECT_EQ(r.ok, !c.same) << r.error;
        if (c.same) {
            EXPECT_EQ(r.error, "port " + c.b + " is given twice");
        }
        // The same within one comma-separated list.
        EXPECT_EQ(ParseCommandLine({"-p", c.a + "," + c.b, "f.dat"}).ok, !c.same);
    }
}

class CliUsbListing : public ::testing::Test {
protected:
    void SetUp() override
    {
        // FTDI ports as the Windows listing shows them (the port's letter
        // after the chip's serial), a two-port chip, a chip whose serial is
        // another's plus a letter, a serial in small letters, a line in CR LF.
        ASSERT_TRUE(WriteFile(dir / "listing", "/dev/a\tusb:0403:6001:A10K3BA\n"
                                               "/dev/b\tusb:0403:6010:FT5XQ2PHA\n"
                                               "/dev/c\tusb:0403:6010:FT5XQ2PHB\n"
                                               "/dev/d\tusb:0403:6015:DQ01\n"
                                               "/dev/e\tusb:0403:6015:DQ01A\n"
                                               "/dev/f\tusb:2341:0043:abc12\n"
                                               "/dev/g\tusb:1234:5678:CR1\r\n"));
        ASSERT_EQ(setenv("MARBRIX_PORT_LISTING", (dir / "listing").c_str(), 1), 0);
    }
    void TearDown() override { unsetenv("MARBRIX_PORT_LISTING"); }
    TempDir dir;
};

TEST_F(CliUsbListing, TheClosestSerialPicksTheAdapter)
{
    struct Case {
        const char* port;
        const char* path;  // empty: no single adapter
        const char* why;   // the start of the message then
    } cases[] = {
        {"usb:0403:6001:A10K3BA", "/dev/a", ""},
        {"usb:403:6001", "/dev/a", ""},
        // The chip's serial, as Linux and FTDI's tools show it.
        {"usb:0403:6001:A10K3B", "/dev/a", ""},
        {"usb:0403:6001:a10k3b", "/dev/a", ""},
        {"usb:0403:6010:FT5XQ2PHB", "/dev/c", ""},
        {"usb:0403:6010:FT5XQ2PH", "", "2 USB serial adapters match usb:0403:6010:FT5XQ2PH; add the serial"},
        // Written exactly, a serial is never taken for a port of another.
        {"usb:0403:6015:DQ01", "/dev/d", ""},
        {"usb:0403:6015:DQ01A", "/dev/e", ""},
        {"usb:2341:0043:ABC12", "/dev/f", ""},
        {"usb:1234:5678:CR1", "/dev/g", ""},
        {"usb:0403:6001:A10K3", "", "no USB serial adapter matches usb:0403:6001:A10K3; the adapters are:"},
        {"usb:0403:6001:A10K3BAA", "", "no USB serial adapter matches"},
        {"usb:0403:6001:A10K3BE", "", "no USB serial adapter matches"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.port);
        std::string path, why;
        EXPECT_EQ(ResolveUsbPort(c.port, &path, &why), *c.path != 0) << why;
        if (*c.path) {
            EXPECT_EQ(path, c.path);
        } else {
            EXPECT_EQ(why.compare(0, strlen(c.why), c.why), 0) << why;
        }
    }
}

}  // namespace
