// SPDX-License-Identifier: MIT
// The engine's sender against lrzsz's rb, a YMODEM receiver written by other
// people: if rb accepts the batch and writes the padded image, the sender
// speaks standard YMODEM-1K. The test plays the box's part of the session
// (handshake and service word) on the pty master, then hands the line to rb.
#include "test_support.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <optional>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

const std::string kStart("\x02\xAA\x03", 3);
const std::string kStartAnswer("\x02\xAB\xAC\x03", 4);
const std::string kService("\x02\xB0\x03", 3);

// What happens on the way between the CLI and rb. Offsets count the bytes
// relayed to rb: block 0 is 133 of them, each data block 1029 (3 header
// bytes, 1024 data, 2 CRC).
struct LineTrouble {
    long flipAt = -1;  // this byte has one bit flipped (a noisy line)
    long stopAt = -1;  // once this byte has gone to rb, the CLI is stopped...
    int stopMs = 0;    // ...for this long (SIGSTOP, then SIGCONT), while rb goes on
};

// The offset of data byte `at` of data block `block` (1-based).
long InBlock(int block, int at)
{
    return 133 + long(block - 1) * 1029 + 3 + at;
}

// Copies line bytes to rb and rb's answers back until told to stop, with
// the trouble asked for. During a stop rb's answers (its time-out NAKs) are
// still passed on: they wait on the line for the stopped CLI, as they would
// on a real port.
void Relay(int master, int toRb, int fromRb, std::atomic<bool>* stop, const LineTrouble& trouble, pid_t cli)
{
    long relayed = 0;
    Clock::time_point resumeAt{};
    std::string held;  // the rest of the block the CLI was writing when it stopped
    while (!*stop) {
        if (resumeAt != Clock::time_point{} && Clock::now() >= resumeAt) {
            kill(cli, SIGCONT);
            resumeAt = {};
            if (!WriteAll(toRb, held.data(), held.size()))
                return;
            held.clear();
        }
        pollfd fds[2] = {{master, POLLIN, 0}, {fromRb, POLLIN, 0}};
        if (poll(fds, 2, 50) <= 0)
            continue;
        char buf[4096];
        if (fds[0].revents & POLLIN) {
            ssize_t n = read(master, buf, sizeof buf);
            if (n > 0) {
                if (trouble.flipAt >= relayed && trouble.flipAt < relayed + n)
                    buf[trouble.flipAt - relayed] ^= 0x10;
                size_t now = size_t(n);
                if (trouble.stopAt >= relayed && trouble.stopAt < relayed + n) {
                    // Stopped in the middle of its write: the line carries
                    // the block up to here, the rest once the CLI goes on.
                    kill(cli, SIGSTOP);
                    resumeAt = Clock::now() + std::chrono::milliseconds(trouble.stopMs);
                    now = size_t(trouble.stopAt - relayed + 1);
                    held.assign(buf + now, size_t(n) - now);
                }
                relayed += n;
                if (!WriteAll(toRb, buf, now))
                    return;
            }
        } else if (fds[0].revents & (POLLHUP | POLLERR)) {
            // Nobody holds the pty's other end (the CLI ended): poll would
            // report it at once, so pause instead of spinning.
            usleep(5000);
        }
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            ssize_t n = read(fromRb, buf, sizeof buf);
            if (n <= 0)
                break;  // rb has ended
            if (!WriteAll(master, buf, size_t(n)))
                break;
        }
    }
    if (resumeAt != Clock::time_point{})
        kill(cli, SIGCONT);
}

bool HaveRb()
{
    return access("/usr/bin/rb", X_OK) == 0 || RunCommand({"sh", "-c", "command -v rb"}, nullptr, nullptr) == 0;
}

struct RbRun {
    std::optional<int> cliStatus;  // nullopt: the CLI did not end
    std::string cliErr;
    std::optional<int> rbStatus;  // nullopt: rb did not end and was killed
    std::string rbErr;
    std::string received;  // the file rb wrote
};

// marbrix-cli sends `image` to rb through the trouble asked for. The test
// plays the box's start and service request itself, then hands the line to rb.
void SendToRb(const TempDir& dir, const std::string& image, const LineTrouble& trouble, RbRun* run)
{
    ASSERT_TRUE(WriteFile(dir / "img.dat", image));
    ASSERT_EQ(mkdir((dir / "rx").c_str(), 0700), 0);

    Pty pty;
    ASSERT_TRUE(pty.Open());
    Child cli;
    ASSERT_TRUE(cli.Spawn({kCli, "-p", pty.slavePath, dir / "img.dat"}));
    ASSERT_TRUE(cli.WaitForOutput(true, "Start Download Service\r\n", 10000)) << cli.err;

    // The box's start: repeat the frame until it is answered, then let the
    // answers to the repeats go by.
    std::string got;
    bool answered = false;
    for (int i = 0; i < 20 && !answered; ++i) {
        ASSERT_TRUE(WriteAll(pty.master, kStart.data(), kStart.size()));
        answered = ReadUntil(pty.master, &got, kStartAnswer, 500);
    }
    ASSERT_TRUE(answered) << cli.err;
    ReadQuiet(pty.master, 300, 3000);

    ASSERT_TRUE(WriteAll(pty.master, kService.data(), kService.size()));
    std::string word;
    ASSERT_TRUE(ReadExactly(pty.master, &word, 4, 5000)) << cli.err;
    EXPECT_EQ(word, image.substr(11, 4));

    // rb talks through pipes that the test relays to and from the master:
    // rb sets terminal modes on its standard input, and on a pty master those
    // would land on the engine's side of the line.
    int toRb[2], fromRb[2];
    ASSERT_EQ(pipe(toRb), 0);
    ASSERT_EQ(pipe(fromRb), 0);
    Child rb;
    SpawnOptions o;
    o.stdinFd = toRb[0];
    o.stdoutFd = fromRb[1];
    o.cwd = dir / "rx";
    ASSERT_TRUE(rb.Spawn({"rb", "--ymodem", "-v"}, o));
    close(toRb[0]);
    close(fromRb[1]);
    std::atomic<bool> stop{false};
    std::thread relay([&] { Relay(pty.master, toRb[1], fromRb[0], &stop, trouble, cli.pid); });
    // Either may end first: rb when the batch is closed, the CLI when it
    // takes the transfer as done (rightly or not). The other then has 20 s
    // to follow; rb left waiting for blocks that never come is killed.
    const auto until = Clock::now() + std::chrono::seconds(120);
    Clock::time_point firstEnd{};
    while (Clock::now() < until && !(run->rbStatus && run->cliStatus)) {
        if (!run->rbStatus)
            run->rbStatus = rb.Wait(50);
        if (!run->cliStatus)
            run->cliStatus = cli.Wait(50);
        if ((run->rbStatus || run->cliStatus) && firstEnd == Clock::time_point{})
            firstEnd = Clock::now();
        if (firstEnd != Clock::time_point{} && Clock::now() - firstEnd > std::chrono::seconds(20))
            break;
    }
    stop = true;
    relay.join();
    if (!run->rbStatus)
        rb.Kill();
    close(toRb[1]);
    close(fromRb[0]);
    run->cliErr = cli.err;
    run->rbErr = rb.err;
    run->received = ReadFileBytes(dir / "rx/VELTO");
    if (run->received.empty())
        run->received = ReadFileBytes(dir / "rx/velto");
}

class RbReceives : public ::testing::TestWithParam<size_t> {};

TEST_P(RbReceives, PaddedImageByteForByte)
{
    if (!HaveRb())
        GTEST_SKIP() << "lrzsz's rb is not installed";
    const size_t payloadSize = GetParam();
    TempDir dir;
    const std::string payload = RandomBytes(payloadSize, unsigned(payloadSize));
    RbRun run;
    SendToRb(dir, MakeImage(payload, std::string("\xDE\xAD\x00\x7F", 4)), {}, &run);
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(run.rbStatus.has_value()) << run.rbErr;
    EXPECT_EQ(*run.rbStatus, 0) << run.rbErr;

    // rb ends the batch on the empty block 0 without asking for more: its
    // ACK alone completes the transfer, with no 'C' from anyone.
    ASSERT_TRUE(run.cliStatus.has_value()) << run.cliErr;
    EXPECT_EQ(*run.cliStatus, kExitSent) << run.cliErr;
    EXPECT_NE(run.cliErr.find("  Velto file send OK!\n"), std::string::npos) << run.cliErr;
    ASSERT_EQ(run.received.size(), Padded(payload).size()) << run.rbErr;
    EXPECT_TRUE(run.received == Padded(payload));
}

// One block, a block plus one byte (0xFF tail), and enough for the 8-bit
// block number to wrap.
INSTANTIATE_TEST_SUITE_P(Cli, RbReceives, ::testing::Values(size_t(1), size_t(1025), size_t(300 * 1024)));

// Trouble on the line that rb answers as any receiver does: a damaged block
// is NAKed (after rb has read on until the line is quiet), and a sender
// that keeps it waiting past its 5 s time-out gets a NAK per time-out, which
// a stopped CLI finds waiting when it resumes. Whatever happened, the CLI
// may only say "sent" when rb holds the whole image; and each of these is
// well within what the protocol recovers from, so the image must arrive.
struct Trouble {
    const char* name;
    LineTrouble line;
};

class RbThroughTrouble : public ::testing::TestWithParam<Trouble> {};

TEST_P(RbThroughTrouble, SentOnlyWhenRbHoldsTheImage)
{
    if (!HaveRb())
        GTEST_SKIP() << "lrzsz's rb is not installed";
    TempDir dir;
    const std::string payload = RandomBytes(5000, 77);  // five data blocks
    RbRun run;
    SendToRb(dir, MakeImage(payload), GetParam().line, &run);
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(run.cliStatus.has_value()) << run.cliErr << run.rbErr;
    const bool saidSent = *run.cliStatus == kExitSent || run.cliErr.find("Velto file send OK!") != std::string::npos;
    if (saidSent) {
        EXPECT_TRUE(run.received == Padded(payload))
            << "the CLI said sent while rb holds " << run.received.size() << " bytes of " << Padded(payload).size()
            << (run.received.size() == Padded(payload).size() ? ", not the image" : "") << "\n"
            << run.cliErr << run.rbErr;
    }
    EXPECT_EQ(*run.cliStatus, kExitSent) << run.cliErr << run.rbErr;
    ASSERT_TRUE(run.rbStatus.has_value()) << run.rbErr;
    EXPECT_EQ(*run.rbStatus, 0) << run.rbErr;
}

INSTANTIATE_TEST_SUITE_P(Cli, RbThroughTrouble,
                         ::testing::Values(Trouble{"FlippedBitInBlock2", {InBlock(2, 500), -1, 0}},
                                           Trouble{"FlippedBitInTheLastBlock", {InBlock(5, 500), -1, 0}},
                                           Trouble{"FlippedHeaderOfBlock3", {InBlock(3, -3), -1, 0}},
                                           // Stopped in the middle of writing a block (a laptop
                                           // suspending, a swapping host): rb times out inside
                                           // the block and waiting for the next one, and its
                                           // NAKs wait on the line for the CLI.
                                           Trouble{"CliStopped7sInTheLastBlock", {-1, InBlock(5, 500), 7000}},
                                           Trouble{"FlippedBitAndCliStoppedInBlock4",
                                                   {InBlock(4, 500), InBlock(4, 500), 7000}},
                                           // Stopped while it waits for block 4's answer: rb's
                                           // ACK and then its time-out NAKs pile up for it.
                                           Trouble{"CliStopped7sAfterBlock4", {-1, InBlock(4, 1025), 7000}}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
