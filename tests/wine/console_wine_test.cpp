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
#include "test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string Env(const char* name)
{
    const char* v = getenv(name);
    return v ? v : "";
}

std::string ReadLink(const std::string& path)
{
    char buf[PATH_MAX];
    ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
    return n < 0 ? "" : std::string(buf, size_t(n));
}

std::string Lower(std::string s)
{
    for (char& c : s)
        c = char(tolower(static_cast<unsigned char>(c)));
    return s;
}

struct WineSetup {
    std::string exe = Env("MARBRIX_CONSOLE_CASES_EXE");
    std::string link = Env("MARBRIX_COM_LINK");  // the symlink COM7 is mapped to
    std::string com = Env("MARBRIX_COM_NAME");   // "COM7"
    std::string sim = Env("STBSIM");
    std::string prefix = Env("WINEPREFIX");
    std::string display = Env("DISPLAY");
    bool Complete() const
    {
        return !exe.empty() && !link.empty() && !com.empty() && !sim.empty() && !prefix.empty() &&
               !display.empty();
    }
};

const WineSetup& Wine()
{
    static const WineSetup s;
    return s;
}

// A Unix path as the Windows program names it: Wine's drive Z: is /.
std::string WinPath(const std::string& unixPath)
{
    std::string p = "Z:" + unixPath;
    for (char& c : p)
        if (c == '/')
            c = '\\';
    return p;
}

class WineConsole : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!Wine().Complete())
            GTEST_SKIP() << "run by scripts/test-windows.sh (needs MARBRIX_CONSOLE_CASES_EXE, MARBRIX_COM_LINK, "
                            "MARBRIX_COM_NAME, STBSIM, WINEPREFIX, DISPLAY)";
        const int n = atoi(Wine().com.c_str() + 3);
        // Never COM1..COM4: unmapped, Wine sends them to /dev/ttyS0..3.
        ASSERT_GT(n, 4) << Wine().com;
        // The port must lead to our symlink before any program opens it.
        const std::string dosdevice = Wine().prefix + "/dosdevices/" + Lower(Wine().com);
        ASSERT_EQ(ReadLink(dosdevice), Wine().link) << dosdevice;
    }

    void PointComAt(const std::string& pty)
    {
        const std::string tmp = Wine().link + ".new";
        unlink(tmp.c_str());
        ASSERT_EQ(symlink(pty.c_str(), tmp.c_str()), 0);
        ASSERT_EQ(rename(tmp.c_str(), Wine().link.c_str()), 0);
        ASSERT_EQ(ReadLink(Wine().link), pty);
    }

    // Starts stbsim, learns its pty and maps the COM port to it.
    void StartSim(Child* sim, const std::vector<std::string>& args)
    {
        std::vector<std::string> argv = {Wine().sim};
        argv.insert(argv.end(), args.begin(), args.end());
        ASSERT_TRUE(sim->Spawn(argv) && sim->WaitForOutput(false, "stbsim: pty ", 10000)) << sim->out << sim->err;
        ASSERT_TRUE(sim->WaitForOutput(false, "\n", 5000));
        size_t at = sim->out.find("stbsim: pty ") + 12;
        std::string pty = sim->out.substr(at, sim->out.find('\n', at) - at);
        ASSERT_FALSE(pty.empty());
        PointComAt(pty);
    }

    // Runs the cases that match filter, bounded; every one of them must
    // pass (a skip there is a skip here, with its reason).
    void RunCases(const std::string& filter, const std::string& file = "", int timeoutMs = 240000)
    {
        SpawnOptions o;
        // UTF-8 for the Unix side of Wine: the path's Chinese name reaches
        // the program's wide environment intact.
        o.env = {"WINEDEBUG=-all", "LC_ALL=C.UTF-8", "MARBRIX_COM_NAME=" + Wine().com};
        if (!file.empty())
            o.env.push_back("MARBRIX_CASE_FILE=" + WinPath(file));
        Child cases;
        ASSERT_TRUE(cases.Spawn({"wine", Wine().exe, "--gtest_filter=" + filter, "--gtest_color=no"}, o));
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
    ASSERT_NO_FATAL_FAILURE(StartSim(&sim, {"--mode", "image", "--expect", file, "--out", dir / "received.bin",
                                            "--timeout", "200"}));
    ASSERT_NO_FATAL_FAILURE(RunCases("Download.ImageToTheEnd", file));
    const auto rc = sim.Wait(30000);
    ASSERT_TRUE(rc.has_value()) << "stbsim did not finish\n" << sim.out << sim.err;
    EXPECT_EQ(*rc, 0) << sim.out << sim.err;
    EXPECT_NE(sim.out.find("stbsim: PASS"), std::string::npos) << sim.out;
    EXPECT_EQ(ReadFileBytes(dir / "received.bin"), Padded(payload));
}

TEST_F(WineConsole, ServedDownloadThenAbort)
{
    // Paced like a real line and long enough that Abort meets it running.
    const std::string file = dir / "应用程序.sdl";
    ASSERT_TRUE(WriteFile(file, RandomBytes(300 * 1024, 12)));
    Child sim;
    ASSERT_NO_FATAL_FAILURE(StartSim(&sim, {"--mode", "served", "--expect", file, "--chunk", "1024",
                                            "--time-every", "4", "--pace", "115200", "--timeout", "200"}));
    ASSERT_NO_FATAL_FAILURE(RunCases("Download.ServedThenAbort", file));
    // The box was cut off: it cannot have seen the whole file.
    sim.Wait(0);
    EXPECT_EQ(sim.out.find("stbsim: PASS"), std::string::npos) << sim.out;
}

}  // namespace
