// SPDX-License-Identifier: MIT
// How marbrix-cli ends when things go wrong around the download: the port
// disappears, nobody reads the box's output, the download file is a FIFO,
// another program already has the port. Each time it must end on its own or
// on a signal, say why, and leave the port free for the next program.
//
// The test plays the box on the pty master itself, and keeps no descriptor
// on the slave: a process holding it would make the CLI refuse the port.
#include "test_support.h"

#include "serial_port.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <optional>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A pty whose slave nobody has open until the CLI opens it.
struct BoxLine {
    int master = -1;
    std::string slavePath;
    ~BoxLine() { CloseMaster(); }
    bool Open()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master < 0 || grantpt(master) < 0 || unlockpt(master) < 0)
            return false;
        const char* name = ptsname(master);
        slavePath = name ? name : "";
        return !slavePath.empty();
    }
    void CloseMaster()
    {
        if (master >= 0)
            close(master);
        master = -1;
    }
};

// The port is free again: lock dropped, exclusive flag cleared, nobody on it.
// The flag is read back, not tried: root opens a tty through it.
void ExpectPortFree(const std::string& path)
{
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0) << path << ": " << strerror(errno);
    int exclusive = -1;
    EXPECT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0) << strerror(errno);
    EXPECT_EQ(exclusive, 0) << path << " still has the exclusive flag";
    close(fd);
    PortOpenError error;
    PortHandle again = PortOpenDevice(path.c_str(), 115200, &error);
    EXPECT_NE(again, nullptr) << path << ": " << error.text << " " << error.holders;
    if (again)
        PortCloseDevice(again);
}

bool WaitForCommand(pid_t pid, const std::string& name, int timeoutMs)
{
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        if (ReadFileBytes("/proc/" + std::to_string(pid) + "/comm") == name + "\n")
            return true;
        usleep(10000);
    }
    return false;
}

double ChildCpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_CHILDREN, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// The line of `text` that starts at `from`.
std::string LineAt(const std::string& text, size_t from)
{
    size_t end = text.find('\n', from);
    return text.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

// The box goes away (its end of the pty closes) while the engine is in the
// session: the CLI reports the lost port with the system's reason, exits 3
// and does not spin while it finds out.
struct LostCase {
    const char* name;
    const char* fileName;
    std::string opening;  // what the box sends first
    std::string reply;    // the engine's answer to it
};

class LostPort : public ::testing::TestWithParam<LostCase> {};

TEST_P(LostPort, ExitThreeWithTheReason)
{
    const LostCase& c = GetParam();
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / c.fileName, MakeImage(RandomBytes(3000, 5))));
    BoxLine box;
    ASSERT_TRUE(box.Open());
    const double cpuBefore = ChildCpuSeconds();
    Child cli;
    ASSERT_TRUE(cli.Spawn({kCli, "-p", box.slavePath, dir / c.fileName}));
    ASSERT_TRUE(cli.WaitForOutput(true, "Start Download Service\r\n", 10000)) << cli.err;
    ASSERT_TRUE(WriteAll(box.master, c.opening.data(), c.opening.size()));
    std::string heard;
    ASSERT_TRUE(ReadUntil(box.master, &heard, c.reply, 10000)) << cli.err;

    box.CloseMaster();
    auto rc = cli.Wait(15000);
    ASSERT_TRUE(rc.has_value()) << "still running after the port went away\n" << cli.err;
    EXPECT_EQ(*rc, kExitPort) << cli.err;
    size_t lost = cli.err.find("  Serial port lost! Abort Download\n");
    ASSERT_NE(lost, std::string::npos) << cli.err;
    // The reason stands on a line of its own after the engine's verdict.
    size_t reason = cli.err.find("  " + box.slavePath + " was lost: ", lost);
    ASSERT_NE(reason, std::string::npos) << cli.err;
    std::string line = LineAt(cli.err, reason);
    EXPECT_GT(line.size(), box.slavePath.size() + 12) << "no reason given: " << line;
    EXPECT_EQ(cli.err.find("Velto file send OK!"), std::string::npos) << cli.err;
    // Generous: a CLI that polled a dead line flat out would burn its whole run.
    EXPECT_LT(ChildCpuSeconds() - cpuBefore, 2.0) << cli.err;
}

INSTANTIATE_TEST_SUITE_P(Cli, LostPort,
                         ::testing::Values(LostCase{"Served", "app.sdl", "\x02\x01\x03", "\x02\x01\x0A\x03"},
                                           LostCase{"Image", "app.dat", "\x02\xAA\x03", "\x02\xAB\xAC\x03"}),
                         [](const auto& info) { return std::string(info.param.name); });

// 200 KiB of box chatter into a stdout pipe nobody reads: the worker keeps
// answering the box, SIGINT still ends the CLI, and what stdout did not take
// is counted: written plus dropped is every byte the box sent.
TEST(CliEnding, UnreadStdoutDropsChatterAndStillStops)
{
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "app.sdl", "served"));
    BoxLine box;
    ASSERT_TRUE(box.Open());
    int out[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    Child cli;
    SpawnOptions o;
    o.stdoutFd = out[1];
    ASSERT_TRUE(cli.Spawn({kCli, "-p", box.slavePath, dir / "app.sdl"}, o));
    close(out[1]);
    ASSERT_TRUE(cli.WaitForOutput(true, "Start Download Service\r\n", 10000)) << cli.err;

    const size_t total = 200 * 1024;
    std::string chatter;
    while (chatter.size() < total)
        chatter += "box: still booting, nothing to see here\r\n";
    chatter.resize(total);
    ASSERT_TRUE(WriteAll(box.master, chatter.data(), chatter.size())) << "the engine stopped reading the line";
    // The engine answers frames in line order: once STB_START is answered,
    // all the chatter before it has been taken.
    const std::string start = "\x02\x01\x03";
    ASSERT_TRUE(WriteAll(box.master, start.data(), start.size()));
    std::string heard;
    EXPECT_TRUE(ReadUntil(box.master, &heard, "\x02\x01\x0A\x03", 20000)) << cli.err;

    ASSERT_NO_FATAL_FAILURE(ExpectSignalEnds(cli, SIGINT, kExitSent, 15000));
    EXPECT_NE(cli.err.find("  [VUMO] User break off\r\n"), std::string::npos) << cli.err;

    const std::string tail = " bytes of the box's output were dropped";
    size_t at = cli.err.find(tail);
    ASSERT_NE(at, std::string::npos) << cli.err;
    size_t digits = cli.err.find_last_not_of("0123456789", at - 1) + 1;
    unsigned long long dropped = strtoull(cli.err.c_str() + digits, nullptr, 10);
    std::string written = ReadQuiet(out[0], 100, 5000);
    close(out[0]);
    EXPECT_GT(dropped, 0u);
    EXPECT_EQ(written.size() + dropped, total) << "dropped " << dropped;
    EXPECT_EQ(written, chatter.substr(0, written.size())) << "stdout got the chatter in order";
    ExpectPortFree(box.slavePath);
}

// The CLI with standard error on a pipe the test reads only when it wants to
// (Child would drain it while waiting). Killed if still running at the end.
struct CliWithStderr {
    pid_t pid = -1;
    int err = -1;
    ~CliWithStderr()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (err >= 0)
            close(err);
    }
    bool Spawn(const std::vector<std::string>& argv)
    {
        int p[2];
        if (pipe2(p, O_CLOEXEC) < 0)
            return false;
        pid = fork();
        if (pid == 0) {
            int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(null, 1);
            dup2(p[1], 2);
            std::vector<char*> args;
            for (const std::string& a : argv)
                args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            signal(SIGINT, SIG_DFL);
            execv(args[0], args.data());
            _exit(127);
        }
        close(p[1]);
        err = p[0];
        return pid > 0;
    }
    std::optional<int> Wait(int timeoutMs)
    {
        for (int waited = 0; waited <= timeoutMs; waited += 10) {
            int st = 0;
            if (waitpid(pid, &st, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
            }
            usleep(10000);
        }
        return std::nullopt;
    }
};

// Standard error stops being read while the box keeps the engine logging:
// the worker blocks in the log and cannot end. SIGINT still ends the CLI, it
// exits 5 (the engine did not end) and the port is left free.
TEST(CliEnding, StuckWorkerStillEndsAndReleasesThePort)
{
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "app.sdl", "served"));
    BoxLine box;
    ASSERT_TRUE(box.Open());
    CliWithStderr cli;
    ASSERT_TRUE(cli.Spawn({kCli, "-p", box.slavePath, dir / "app.sdl"}));
    std::string log;
    ASSERT_TRUE(ReadUntil(cli.err, &log, "Start Download Service\r\n", 10000)) << log;

    // Each unknown command costs a log line; go on until the pipe is full,
    // then queue some more so the worker is sure to block on the next one.
    const int capacity = fcntl(cli.err, F_GETPIPE_SZ);
    ASSERT_GT(capacity, 0);
    std::string frames;
    for (int i = 0; i < 100; ++i)
        frames += "\x02\x55\x03";
    bool full = false;
    for (int round = 0; round < 400 && !full; ++round) {
        ASSERT_TRUE(WriteAll(box.master, frames.data(), frames.size()));
        for (int i = 0; i < 20 && !full; ++i) {
            int queued = 0;
            ioctl(cli.err, FIONREAD, &queued);
            full = queued >= capacity - 200;
            usleep(5000);
        }
    }
    ASSERT_TRUE(full) << "the log never filled standard error";
    ASSERT_TRUE(WriteAll(box.master, frames.data(), frames.size()));

    kill(cli.pid, SIGINT);
    auto rc = cli.Wait(15000);
    ASSERT_TRUE(rc.has_value()) << "SIGINT did not end a CLI whose worker is stuck";
    EXPECT_EQ(*rc, kExitIncomplete);
    ExpectPortFree(box.slavePath);
}

// What the download file may be: a FIFO would wait for a writer, so it is
// refused at once; a device is served as before.
struct FileKindCase {
    const char* name;
    bool fifo;  // else /dev/null, served until --timeout
    int exitCode;
    const char* mentions;
};

class DownloadFileKind : public ::testing::TestWithParam<FileKindCase> {};

TEST_P(DownloadFileKind, RefusedOrServed)
{
    const FileKindCase& c = GetParam();
    TempDir dir;
    std::string file = "/dev/null";
    if (c.fifo) {
        file = dir / "app.sdl";
        ASSERT_EQ(mkfifo(file.c_str(), 0600), 0) << strerror(errno);
    }
    BoxLine box;
    ASSERT_TRUE(box.Open());
    Child cli;
    ASSERT_TRUE(cli.Spawn({kCli, "-p", box.slavePath, "--served", "--timeout", "0.3", file}));
    auto rc = cli.Wait(15000);
    ASSERT_TRUE(rc.has_value()) << cli.err;
    EXPECT_EQ(*rc, c.exitCode) << cli.err;
    EXPECT_NE(cli.err.find(c.mentions), std::string::npos) << cli.err;
    EXPECT_EQ(cli.err.find("Can't open the download file!\r\n") != std::string::npos, c.fifo) << cli.err;
    ExpectPortFree(box.slavePath);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, DownloadFileKind,
    ::testing::Values(FileKindCase{"FifoRefused", true, kExitFile, "app.sdl: not a regular file or a device (a FIFO"},
                      FileKindCase{"DeviceServed", false, kExitSent, "  [VUMO] User break off\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// Another program already has the port: one that took no lock (a shell
// redirect), and a second marbrix-cli. Refused with exit 3, naming it.
struct HolderCase {
    const char* name;
    bool cli;  // else `sleep` with the port as its standard input
    const char* program;
};

class HeldPort : public ::testing::TestWithParam<HolderCase> {};

TEST_P(HeldPort, RefusedNamingTheHolder)
{
    const HolderCase& c = GetParam();
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "app.sdl", "served"));
    BoxLine box;
    ASSERT_TRUE(box.Open());
    Child holder;
    if (c.cli) {
        ASSERT_TRUE(holder.Spawn({kCli, "-p", box.slavePath, dir / "app.sdl"}));
        ASSERT_TRUE(holder.WaitForOutput(true, "Start Download Service\r\n", 10000)) << holder.err;
    } else {
        int slave = open(box.slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(slave, 0);
        SpawnOptions o;
        o.stdinFd = slave;
        bool spawned = holder.Spawn({"sleep", "30"}, o);
        close(slave);
        ASSERT_TRUE(spawned);
        // Until the exec, /proc shows a copy of this test under that pid.
        ASSERT_TRUE(WaitForCommand(holder.pid, "sleep", 10000));
    }

    std::string out, err;
    EXPECT_EQ(RunCommand({kCli, "-p", box.slavePath, dir / "app.sdl"}, &out, &err, 15000), kExitPort) << err;
    EXPECT_NE(err.find("Open failed!\r\n"), std::string::npos) << err;
    EXPECT_NE(err.find(std::string(c.program) + " (pid " + std::to_string(holder.pid) + ")"), std::string::npos)
        << err;

    if (c.cli) {
        holder.Signal(SIGTERM);
        auto rc = holder.Wait(15000);
        ASSERT_TRUE(rc.has_value()) << holder.err;
        EXPECT_EQ(*rc, kExitSent) << holder.err;
    } else {
        holder.Kill();
    }
    ExpectPortFree(box.slavePath);
}

INSTANTIATE_TEST_SUITE_P(Cli, HeldPort,
                         ::testing::Values(HolderCase{"WithoutLock", false, "sleep"},
                                           HolderCase{"AnotherCli", true, "marbrix-cli"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
