// SPDX-License-Identifier: MIT
// stbsim as a process: its YMODEM receiver against lrzsz's sb (an
// independent sender), and its ways of ending without a peer. Every wait is
// bounded and every child is killed if it outstays it.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "host_support.h"
#include "sim_proc.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace simtest;

// sb on the pty slave, as a terminal program would run on a serial line.
pid_t SpawnSb(const std::string& pts, const std::string& dir, const std::string& file)
{
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(pts.c_str(), O_RDWR | O_NOCTTY);
        const int null = open("/dev/null", O_WRONLY);
        if (fd < 0 || null < 0 || chdir(dir.c_str()) != 0)
            _exit(127);
        dup2(fd, 0);
        dup2(fd, 1);
        dup2(null, 2);
        execlp("sb", "sb", "--ymodem", "-k", file.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

std::string Pattern(std::size_t n)
{
    std::string v(n, '\0');
    std::uint32_t x = 0x12345678u;
    for (auto& c : v) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 23);
    }
    return v;
}

class SimProcess : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(dir_.path.empty()); }
    host::TempDir dir_;
};

}  // namespace

TEST_F(SimProcess, YmodemReceiverTakesSbFiles)
{
    struct Case {
        const char* what;
        std::size_t size;
        std::vector<std::string> args;
        bool pass;
    } cases[] = {
        {"one byte: a 1 KiB block padded with 0x1A", 1, {}, true},
        {"empty file: block 0 then EOT at once", 0, {}, true},
        {"exactly one block", 1024, {}, true},
        {"one byte over a block", 1025, {}, true},
        {"three blocks, the last one short", 3000, {}, true},
        {"block numbers wrap past 255", 300 * 1024 + 7, {}, true},
        {"a NAKed data block is sent again", 3000, {"--nak-block", "2"}, true},
        {"three NAKs for one block", 5000, {"--nak-block", "3:3"}, true},
        {"a NAKed block 0 is sent again", 3000, {"--nak-block0"}, true},
        {"junk before the first 'C'", 3000, {"--junk-before-c", "20"}, true},
        {"paced like a 57600 line", 3000, {"--pace", "57600"}, true},
        {"bit errors are caught by the CRC and NAKed", 40000, {"--ber", "0.00002", "--seed", "3"}, true},
        {"CAN ends the transfer as a failure", 5000, {"--can-block", "2"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string name = "sent.bin";
        const auto content = Pattern(c.size);
        ASSERT_TRUE(host::WriteFile(dir_ / name, content));
        const std::string out = dir_ / "got.bin";
        std::remove(out.c_str());
        std::vector<std::string> args = {STBSIM, "--ymodem-only", "--expect", dir_ / name, "--out",
                                         out,    "--timeout",     "60"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Proc sim = Spawn(args, "");
        ASSERT_GT(sim.pid, 0);
        const std::string first = ReadLine(sim.out, 10000);
        const std::string prefix = "stbsim: pty ";
        if (first.rfind(prefix, 0) != 0) {
            ADD_FAILURE() << "first line: " << first;
            Reap(sim.pid, 0);
            close(sim.out);
            continue;
        }
        const pid_t sb = SpawnSb(first.substr(prefix.size()), dir_.path, name);
        const std::string rest = ReadRest(sim.out, 90000);
        const int status = Reap(sim.pid, 5000);
        Reap(sb, 3000);
        close(sim.out);
        const std::string last = LastLine(rest);
        if (c.pass) {
            EXPECT_EQ(status, 0) << rest;
            EXPECT_EQ(last.rfind("stbsim: PASS", 0), 0u) << rest;
            EXPECT_EQ(rest.find("name \"" + name + "\" size " + std::to_string(c.size)) == std::string::npos, false)
                << rest;
            EXPECT_TRUE(host::ReadFileBytes(out) == content) << "--out differs from what sb sent";
        } else {
            EXPECT_EQ(status, 1) << rest;
            EXPECT_EQ(last.rfind("stbsim: FAIL", 0), 0u) << rest;
        }
    }
}

TEST_F(SimProcess, EndsWithoutAPeer)
{
    // Nobody answers: the run ends by its deadline with FAIL and status 1;
    // a usage error ends at once with status 2 before any pty exists.
    struct Case {
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {{"--mode", "image", "--timeout", "1"}, 1},
        {{"--mode", "served", "--size", "100", "--timeout", "1"}, 1},
        {{"--ymodem-only", "--timeout", "1"}, 1},
        {{"--mode", "served", "--timeout", "1"}, 2},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {STBSIM};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::string joined;
        for (const auto& a : c.args)
            joined += a + " ";
        SCOPED_TRACE(joined);
        Proc sim = Spawn(args, "");
        ASSERT_GT(sim.pid, 0);
        const std::string all = ReadRest(sim.out, 20000);
        const int status = Reap(sim.pid, 5000);
        close(sim.out);
        EXPECT_EQ(status, c.status) << all;
        if (c.status == 1) {
            EXPECT_EQ(all.rfind("stbsim: pty /dev/", 0), 0u) << all;
            EXPECT_EQ(LastLine(all).rfind("stbsim: FAIL", 0), 0u) << all;
        }
    }
}

TEST_F(SimProcess, LinkPointsAtThePtyAndGoesAway)
{
    const std::string link = dir_ / "ttySTB";
    Proc sim = Spawn({STBSIM, "--mode", "image", "--link", link, "--timeout", "2"}, "");
    ASSERT_GT(sim.pid, 0);
    const std::string first = ReadLine(sim.out, 10000);
    const std::string second = ReadLine(sim.out, 10000);  // the link exists once this is printed
    char target[256] = {0};
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    ReadRest(sim.out, 20000);
    const int status = Reap(sim.pid, 5000);
    close(sim.out);
    ASSERT_EQ(first.rfind("stbsim: pty ", 0), 0u) << first;
    EXPECT_GT(n, 0) << second;
    EXPECT_EQ(std::string(target), first.substr(12));
    EXPECT_EQ(status, 1);
    EXPECT_NE(access(link.c_str(), F_OK), 0) << "the link outlived the run";
    struct stat st;
    EXPECT_NE(lstat(link.c_str(), &st), 0);
}
