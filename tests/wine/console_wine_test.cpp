// SPDX-License-Identifier: MIT
// The operator console's Win32 dialog under Wine, driven from the Linux
// side: console_win32_cases.exe holds the cases (it creates the dialog and
// presses its buttons); this driver gives each case what a Windows program
// cannot make for itself here: a display, the simulated box on a pty behind
// COM7, and afterwards the box's verdict and its copy of what arrived.
//
// Run by scripts/test-windows.sh, which makes the Wine prefix, the COM
// mapping and the virtual X server and passes them in the environment;
// without them every test is skipped.
#include "wine_port_fixture.h"

#include <climits>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using wine::Port;
using wine::WinPath;

std::string CasesExe()
{
    static const std::string exe = wine::Env("MARBRIX_CONSOLE_CASES_EXE");
    return exe;
}

class WineConsole : public wine::PortFixture {
protected:
    void SetUp() override
    {
        CheckPort(!CasesExe().empty() && !wine::Env("DISPLAY").empty(),
                  "MARBRIX_CONSOLE_CASES_EXE, MARBRIX_COM_LINK, MARBRIX_COM_NAME, STBSIM, WINEPREFIX, DISPLAY");
    }

    // Runs the cases that match filter, bounded; every one of them must
    // pass (a skip there is a skip here, with its reason).
    void RunCases(const std::string& filter, const std::string& file = "", int timeoutMs = 240000)
    {
        SpawnOptions o;
        // UTF-8 for the Unix side of Wine: the path's Chinese name reaches
        // the program's wide environment intact.
        o.env = {"WINEDEBUG=-all", "LC_ALL=C.UTF-8", "MARBRIX_COM_NAME=" + Port().com};
        if (!file.empty())
            o.env.push_back("MARBRIX_CASE_FILE=" + WinPath(file));
        Child cases;
        ASSERT_TRUE(cases.Spawn({"wine", CasesExe(), "--gtest_filter=" + filter, "--gtest_color=no"}, o));
        const auto rc = cases.Wait(timeoutMs);
        ASSERT_TRUE(rc.has_value()) << "the cases did not finish\n" << cases.out << cases.err;
        const size_t skipped = cases.out.find("[  SKIPPED ] ");
        if (*rc == 0 && skipped != std::string::npos)
            GTEST_SKIP() << cases.out;
        EXPECT_EQ(*rc, 0) << cases.out << cases.err;
        EXPECT_NE(cases.out.find("[  PASSED  ] "), std::string::npos) << cases.out << cases.err;
        EXPECT_EQ(cases.out.find("[  PASSED  ] 0 tests"), std::string::npos) << "no case matched " << filter;
        output = cases.out;
    }

    TempDir dir;
    std::string output;
};

// The start-up state and the log's colours need no box.
TEST_F(WineConsole, DialogCases)
{
    RunCases("Dialog.*");
}

TEST_F(WineConsole, ImageDownloadArrivesIdentical)
{
    // A Chinese name with a space: the path goes through the file chooser,
    // the status line and the wide-character open as UTF-16.
    const std::string payload = RandomBytes(5000, 11);
    const std::string file = dir / "固件 主板-v1.2.dat";
    ASSERT_TRUE(WriteFile(file, MakeImage(payload, std::string("\x00\xFF\x10\x01", 4))));
    Child sim;
    ASSERT_NO_FATAL_FAILURE(
        StartSim(&sim, {"--mode", "image", "--expect", file, "--out", dir / "received.bin", "--timeout", "200"}));
    ASSERT_NO_FATAL_FAILURE(RunCases("Download.ImageToTheEnd", file));
    ExpectSimPass(sim, 30000);
    EXPECT_EQ(ReadFileBytes(dir / "received.bin"), Padded(payload));
}

TEST_F(WineConsole, ServedDownloadThenAbort)
{
    // Paced like a real line and long enough that Abort meets it running.
    const std::string file = dir / "应用程序.sdl";
    ASSERT_TRUE(WriteFile(file, RandomBytes(300 * 1024, 12)));
    Child sim;
    ASSERT_NO_FATAL_FAILURE(StartSim(&sim, {"--mode", "served", "--expect", file, "--chunk", "1024", "--time-every",
                                            "4", "--pace", "115200", "--timeout", "200"}));
    ASSERT_NO_FATAL_FAILURE(RunCases("Download.ServedThenAbort", file));
    // The box was cut off: it cannot have seen the whole file.
    sim.Wait(0);
    EXPECT_EQ(sim.out.find("stbsim: PASS"), std::string::npos) << sim.out;
}

}  // namespace
