// SPDX-License-Identifier: MIT
// The Windows child-process seam in-process: this program starts itself as
// the child (a mode chosen by its first argument), so what arrives is what
// the C runtime of a real child makes of the command line and environment.
#include "child_process.h"
#include "console_stop.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kEchoExit = 7;
constexpr int kStoppedExit = 42;

void Put(const std::string& text)
{
    DWORD n = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), DWORD(text.size()), &n, nullptr);
}

// The child's side. Returns -1 when this is no child mode.
int ChildMain(int argc, char** argv)
{
    if (argc < 2)
        return -1;
    const std::string mode = argv[1];
    if (mode == "--echo") {
        // Each argument after the mode, then the variable, each ended by a NUL.
        for (int i = 2; i < argc; ++i)
            Put(std::string(argv[i]) + '\0');
        const char* v = getenv("MARBRIX_TEST_VAR");
        Put(std::string(v ? v : "(unset)") + '\0');
        return kEchoExit;
    }
    if (mode == "--flood") {
        const std::string block(4096, 'x');
        for (int i = 0, n = atoi(argv[2]); i < n; ++i)
            Put(block);
        return 0;
    }
    if (mode == "--wait-stop") {
        // Where a Ctrl-Break reaches it too (a shared console), only the
        // event decides.
        SetConsoleCtrlHandler([](DWORD) -> BOOL { return TRUE; }, TRUE);
        const char* text = getenv(kChildStopEventEnv);
        if (!text)
            return 2;
        HANDLE stop = HANDLE(uintptr_t(strtoull(text, nullptr, 10)));
        Put("waiting\n");
        return WaitForSingleObject(stop, 20000) == WAIT_OBJECT_0 ? kStoppedExit : 1;
    }
    if (mode == "--sleep") {
        Sleep(30000);
        return 0;
    }
    return -1;
}

// Runs a child to its end (bounded): its stdout and exit code.
struct Ended {
    std::string out;
    int exitCode = -1;
};

Ended RunToEnd(ChildHandle* child, int limitMs = 20000)
{
    Ended e;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    char buf[8192];
    bool streamEnded = false;
    while (std::chrono::steady_clock::now() < until) {
        ChildrenWait({child}, 200);
        long n;
        while ((n = ChildRead(child, buf, sizeof buf)) > 0)
            e.out.append(buf, size_t(n));
        streamEnded = streamEnded || n == 0;
        if (e.exitCode < 0)
            e.exitCode = ChildPoll(child);
        if (e.exitCode >= 0 && streamEnded)
            break;
    }
    return e;
}

std::vector<std::string> SplitOnNul(const std::string& text)
{
    std::vector<std::string> parts;
    size_t from = 0, nul;
    while ((nul = text.find('\0', from)) != std::string::npos) {
        parts.push_back(text.substr(from, nul - from));
        from = nul + 1;
    }
    return parts;
}

TEST(ChildProcessWin32, ArgumentsAndEnvironmentArriveAsGiven)
{
    // What the C runtime's splitting makes hard: blanks, quotes, backslashes
    // before a quote or at the end, an empty argument.
    const std::vector<std::string> args = {"plain",
                                           "two words",
                                           "",
                                           "tail\\",
                                           "a \"quoted\" word",
                                           "back\\\\\"slash",
                                           "\\\\server\\share\\",
                                           "tab\there",
                                           "C:\\dir with blank\\img.dat",
                                           "C:\\dir with blank\\"};
    std::vector<std::string> argv = {SelfExecutable(), "--echo"};
    argv.insert(argv.end(), args.begin(), args.end());
    // The extra entry replaces the inherited one, whatever its name's case.
    _putenv("marbrix_test_var=inherited");
    ChildHandle child;
    std::string why;
    ASSERT_TRUE(ChildSpawn(argv, {"MARBRIX_TEST_VAR=given"}, &child, &why)) << why;
    const Ended e = RunToEnd(&child);
    EXPECT_EQ(e.exitCode, kEchoExit);
    std::vector<std::string> expected = args;
    expected.push_back("given");
    EXPECT_EQ(SplitOnNul(e.out), expected);
}

TEST(ChildProcessWin32, OutputBeyondThePipesBufferArrivesWhole)
{
    ChildHandle child;
    std::string why;
    ASSERT_TRUE(ChildSpawn({SelfExecutable(), "--flood", "100"}, {}, &child, &why)) << why;
    const Ended e = RunToEnd(&child);
    EXPECT_EQ(e.exitCode, 0);
    EXPECT_EQ(e.out.size(), 100u * 4096);
    EXPECT_EQ(e.out.find_first_not_of('x'), std::string::npos);
}

TEST(ChildProcessWin32, AskToStopReachesAChildWithoutAConsole)
{
    ChildHandle child;
    std::string why;
    ASSERT_TRUE(ChildSpawn({SelfExecutable(), "--wait-stop"}, {}, &child, &why)) << why;
    // Asked only once it waits, so the ask is what ends it.
    std::string out;
    char buf[64];
    for (int i = 0; i < 100 && out.find('\n') == std::string::npos; ++i) {
        ChildrenWait({&child}, 200);
        long n = ChildRead(&child, buf, sizeof buf);
        if (n > 0)
            out.append(buf, size_t(n));
    }
    ASSERT_EQ(out, "waiting\n");
    ChildAskToStop(child);
    EXPECT_EQ(RunToEnd(&child).exitCode, kStoppedExit);
}

TEST(ChildProcessWin32, KillEndsItWithTheKilledCode)
{
    ChildHandle child;
    std::string why;
    ASSERT_TRUE(ChildSpawn({SelfExecutable(), "--sleep"}, {}, &child, &why)) << why;
    EXPECT_EQ(ChildPoll(&child), -1) << "still running";
    ChildKill(child);
    EXPECT_EQ(RunToEnd(&child).exitCode, 128 + 9);
    // Reaped: nothing more to poll or to ask.
    EXPECT_EQ(ChildPoll(&child), -1);
    ChildAskToStop(child);
}

TEST(ChildProcessWin32, ANonexistentProgramIsRefusedWithTheSystemsWords)
{
    ChildHandle child;
    std::string why;
    EXPECT_FALSE(ChildSpawn({"C:\\no such folder\\none.exe"}, {}, &child, &why));
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(ChildPoll(&child), -1);
}

// Both marbrix-cli and the line's parent read the events through this one
// table: a closing console must get the wait for the ending, Ctrl-C must
// not, and an event nobody stops on must reach the next handler.
TEST(ChildProcessWin32, ConsoleEventsMeanAStopOrAClosingConsole)
{
    const struct {
        DWORD type;
        ConsoleStop stop;
    } cases[] = {
        {CTRL_C_EVENT, ConsoleStop::Keys},
        {CTRL_BREAK_EVENT, ConsoleStop::Keys},
        {CTRL_CLOSE_EVENT, ConsoleStop::Closing},
        {CTRL_LOGOFF_EVENT, ConsoleStop::Closing},
        {CTRL_SHUTDOWN_EVENT, ConsoleStop::Closing},
        {3, ConsoleStop::None},
        {4, ConsoleStop::None},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        EXPECT_EQ(ConsoleStopOf(c.type), c.stop);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const int childExit = ChildMain(argc, argv);
    if (childExit >= 0)
        return childExit;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
