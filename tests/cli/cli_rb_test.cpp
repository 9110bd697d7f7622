// SPDX-License-Identifier: MIT
// The engine's sender against lrzsz's rb, a YMODEM receiver written by other
// people: if rb accepts the batch and writes the padded image, the sender
// speaks standard YMODEM-1K. The test plays the box's part of the session
// (handshake and service word) on the pty master, then hands the line to rb.
#include "test_support.h"

#include <atomic>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

const std::string kStart("\x02\xAA\x03", 3);
const std::string kStartAnswer("\x02\xAB\xAC\x03", 4);
const std::string kService("\x02\xB0\x03", 3);

// Copies line bytes to rb and rb's answers back until told to stop.
void Relay(int master, int toRb, int fromRb, std::atomic<bool>* stop)
{
    while (!*stop) {
        pollfd fds[2] = {{master, POLLIN, 0}, {fromRb, POLLIN, 0}};
        if (poll(fds, 2, 50) <= 0)
            continue;
        char buf[4096];
        if (fds[0].revents & POLLIN) {
            ssize_t n = read(master, buf, sizeof buf);
            if (n > 0 && !WriteAll(toRb, buf, size_t(n)))
                return;
        } else if (fds[0].revents & (POLLHUP | POLLERR)) {
            // Nobody holds the pty's other end (the CLI ended): poll would
            // report it at once, so pause instead of spinning.
            usleep(5000);
        }
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            ssize_t n = read(fromRb, buf, sizeof buf);
            if (n <= 0)
                return;  // rb has ended
            if (!WriteAll(master, buf, size_t(n)))
                return;
        }
    }
}

bool HaveRb()
{
    return access("/usr/bin/rb", X_OK) == 0 || RunCommand({"sh", "-c", "command -v rb"}, nullptr, nullptr) == 0;
}

class RbReceives : public ::testing::TestWithParam<size_t> {};

TEST_P(RbReceives, PaddedImageByteForByte)
{
    if (!HaveRb())
        GTEST_SKIP() << "lrzsz's rb is not installed";
    const size_t payloadSize = GetParam();
    TempDir dir;
    const std::string payload = RandomBytes(payloadSize, unsigned(payloadSize));
    const std::string service("\xDE\xAD\x00\x7F", 4);
    ASSERT_TRUE(WriteFile(dir / "img.dat", MakeImage(payload, service)));
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
    EXPECT_EQ(word, service);

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
    std::thread relay([&] { Relay(pty.master, toRb[1], fromRb[0], &stop); });
    auto rbRc = rb.Wait(120000);
    stop = true;
    relay.join();
    close(toRb[1]);
    close(fromRb[0]);
    ASSERT_TRUE(rbRc.has_value()) << rb.err;
    EXPECT_EQ(*rbRc, 0) << rb.err;

    // rb ends the batch on the empty block 0 without asking for more: its
    // ACK alone completes the transfer, with no 'C' from anyone.
    auto rc = cli.Wait(30000);
    ASSERT_TRUE(rc.has_value()) << cli.err;
    EXPECT_EQ(*rc, kExitSent) << cli.err;
    EXPECT_NE(cli.err.find("  Velto file send OK!\n"), std::string::npos) << cli.err;

    std::string received = ReadFileBytes(dir / "rx/VELTO");
    if (received.empty())
        received = ReadFileBytes(dir / "rx/velto");
    ASSERT_EQ(received.size(), Padded(payload).size()) << rb.err;
    EXPECT_TRUE(received == Padded(payload));
}

// One block, a block plus one byte (0xFF tail), and enough for the 8-bit
// block number to wrap.
INSTANTIATE_TEST_SUITE_P(Cli, RbReceives, ::testing::Values(size_t(1), size_t(1025), size_t(300 * 1024)));

}  // namespace
