// SPDX-License-Identifier: MIT
// marbrix-cli.exe's ports under Wine: a usb: identity found through the
// listing file, --list-ports showing it, a port named twice under its other
// Windows names, and --wait-port on a COM port whose device is gone.
//
// Built into cli_wine_test and run by scripts/test-windows.sh, on the COM7
// mapping it makes (wine_port_fixture.h); skipped without it.
#include "wine_port_fixture.h"

#include <string>
#include <unistd.h>
#include <vector>

namespace {

using wine::Port;
using wine::WinPath;

class WinePorts : public wine::PortFixture {
protected:
    void SetUp() override
    {
        CheckPort(!wine::CliExe().empty(), "MARBRIX_CLI_EXE, MARBRIX_COM_LINK, MARBRIX_COM_NAME, STBSIM, WINEPREFIX");
    }

    // The listing names COM7 by the identity `serial`, beside an adapter of
    // the same kind on a port nobody maps; lines end as a Windows editor
    // ends them.
    std::string WriteListing(const std::string& serial)
    {
        const std::string listing = dir / "listing.txt";
        EXPECT_TRUE(
            WriteFile(listing, Port().com + "\tusb:0403:6001:" + serial + "\r\nCOM29\tusb:0403:6001:OTHER1\r\n"));
        return WinPath(listing);
    }

    static bool SpawnCli(Child* cli, const std::vector<std::string>& args, const std::string& listing = "")
    {
        if (listing.empty())
            return wine::SpawnCli(cli, args);
        return wine::SpawnCli(cli, args, {"MARBRIX_PORT_LISTING=" + listing});
    }

    TempDir dir;
};

TEST_F(WinePorts, UsbIdentityFromTheListingReachesTheBox)
{
    ASSERT_TRUE(WriteFile(dir / "img.dat", MakeImage(RandomBytes(5000, 22))));
    Child sim;
    ASSERT_NO_FATAL_FAILURE(StartSim(&sim, {"--mode", "image", "--expect", dir / "img.dat", "--timeout", "60"}));
    Child cli;
    ASSERT_TRUE(SpawnCli(&cli, {"-p", "usb:0403:6001:TEST1", WinPath(dir / "img.dat")}, WriteListing("TEST1")));
    auto rc = cli.Wait(60000);
    ASSERT_TRUE(rc.has_value()) << cli.err;
    EXPECT_EQ(*rc, kExitSent) << cli.err;
    EXPECT_NE(cli.err.find("  " + Port().com + ":115200-8-1 Open Successful!\r\n"), std::string::npos) << cli.err;
    ExpectSimPass(sim, 30000);
}

TEST_F(WinePorts, ListPortsPrintsTheIdentityReadyToPaste)
{
    Child cli;
    ASSERT_TRUE(SpawnCli(&cli, {"--list-ports"}, WriteListing("TEST1")));
    auto rc = cli.Wait(30000);
    ASSERT_TRUE(rc.has_value()) << cli.err;
    EXPECT_EQ(*rc, 0) << cli.err;
    const std::string line = Port().com + "\t" + Port().com + "\tUSB serial adapter\tusb:0403:6001:TEST1\n";
    EXPECT_NE(("\n" + cli.out).find("\n" + line), std::string::npos) << cli.out;
}

// FTDI's driver shows the chip's serial with the port's letter; the serial
// alone, as Linux shows it, picks the same port.
TEST_F(WinePorts, TheChipsSerialPicksItsFtdiPort)
{
    Pty box;
    ASSERT_TRUE(box.Open());
    PointComAt(box.slavePath);
    Child cli;
    ASSERT_TRUE(SpawnCli(&cli, {"-p", "usb:0403:6001:TEST1", "--timeout", "0.5", WinPath(dir / "none.dat")},
                         WriteListing("TEST1A")));
    auto rc = cli.Wait(30000);
    ASSERT_TRUE(rc.has_value()) << cli.err;
    // Past the identity, the download file is what fails.
    EXPECT_EQ(*rc, kExitFile) << cli.err;
    EXPECT_NE(cli.err.find("  " + Port().com + ":115200-8-1 Open Successful!\r\n"), std::string::npos) << cli.err;
}

TEST_F(WinePorts, APortNamedTwiceExitsOne)
{
    const std::string com = Port().com;
    const std::string lower = wine::Lower(com);
    const std::vector<std::vector<std::string>> twice = {
        {"-p", com, "-p", "\\\\.\\" + com},
        {"-p", lower, "-p", com},
        {"-p", com + ",\\\\.\\" + lower},
    };
    for (const auto& ports : twice) {
        std::vector<std::string> args = ports;
        args.push_back(WinPath(dir / "img.dat"));
        Child cli;
        ASSERT_TRUE(SpawnCli(&cli, args));
        auto rc = cli.Wait(30000);
        ASSERT_TRUE(rc.has_value()) << cli.err;
        EXPECT_EQ(*rc, kExitUsage) << cli.err;
        EXPECT_NE(cli.err.find(" is given twice\n"), std::string::npos) << cli.err;
    }
}

// Under Wine a COM port whose device node is gone still opens, and only
// GetCommState fails: the port is not there yet, and --wait-port waits
// for it instead of failing the open.
TEST_F(WinePorts, WaitPortWaitsWhileTheMappedDeviceIsGone)
{
    ASSERT_TRUE(WriteFile(dir / "img.dat", MakeImage(RandomBytes(3000, 23))));
    PointComAt(dir / "unplugged");
    Child cli;
    ASSERT_TRUE(SpawnCli(&cli, {"--wait-port", "60", "-p", Port().com, WinPath(dir / "img.dat")}));
    ASSERT_TRUE(cli.WaitForOutput(true, "Waiting up to 60 s for ", 20000)) << cli.err;
    EXPECT_FALSE(cli.Wait(1500).has_value()) << "did not wait for the port\n" << cli.err;
    Child sim;
    ASSERT_NO_FATAL_FAILURE(StartSim(&sim, {"--mode", "image", "--expect", dir / "img.dat", "--timeout", "60"}));
    auto rc = cli.Wait(60000);
    ASSERT_TRUE(rc.has_value()) << cli.err;
    EXPECT_EQ(*rc, kExitSent) << cli.err;
    ExpectSimPass(sim, 30000);
}

}  // namespace
