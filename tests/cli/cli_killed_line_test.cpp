// SPDX-License-Identifier: MIT
// The production line killed outright (SIGKILL: no handler runs, no port's
// process is asked to stop). Each port's process must still end and let go
// of its port, or the next line started on the bench finds every port busy.
#include "line_support.h"

#include <chrono>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <thread>

namespace {

// Gone, or a zombie that nobody reaps (a container's first process may not).
bool Ended(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    if (!stat)
        return true;
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    return close != std::string::npos && text.compare(close + 1, 3, " Z ") == 0;
}

bool AllEnded(const std::vector<pid_t>& pids, int timeoutMs)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        bool all = true;
        for (pid_t p : pids)
            all = all && Ended(p);
        if (all)
            return true;
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

TEST(CliKilledLine, PortProcessesEndWithTheLine)
{
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "img.dat", MakeImage(RandomBytes(4096, 31))));
    Child boxes[2];
    std::vector<std::string> argv = {kCli, "--loop", "--json"};
    for (int i = 0; i < 2; ++i) {
        const std::string port = dir / ("box" + std::to_string(i));
        ASSERT_TRUE(StartSilentBox(&boxes[i], port)) << boxes[i].err;
        argv.insert(argv.end(), {"-p", port});
    }
    argv.push_back(dir / "img.dat");
    Child line;
    ASSERT_TRUE(line.Spawn(argv));
    // The ports' processes are up and waiting for a box.
    ASSERT_TRUE(line.WaitForOutput(false, "\"event\":\"start\"", 30000)) << line.err;
    std::vector<pid_t> ports;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while ((ports = ChildrenOf(line.pid)).size() < 2 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(ports.size(), 2u) << line.err;

    // The line alone, not its process group: nothing asks the ports'
    // processes to stop.
    ASSERT_EQ(kill(line.pid, SIGKILL), 0);
    ASSERT_TRUE(line.Wait(10000).has_value());
    EXPECT_TRUE(AllEnded(ports, 30000)) << "a port's process outlived the line";
}

}  // namespace
