// SPDX-License-Identifier: MIT
// stbsim's line faults seen from the sender's end: the test is the sender,
// byte by byte, and checks what the box says back. Each fault must do what
// it promises whatever a sender makes of it: a duplicate ACK that reaches
// the sender together with the real one, a pause whose time-out NAKs come
// in one burst with the ACK, reboots that start the whole download over.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "codec.h"
#include "host_support.h"
#include "sim_proc.h"

namespace {

using namespace simtest;

const std::string kAck("\x06"), kNak("\x15"), kC("C"), kEot("\x04");
const std::string kStart("\x02\xAA\x03", 3);
const std::string kStartAnswer("\x02\xAB\xAC\x03", 4);
const std::string kService("\x02\xB0\x03", 3);

// The sender's end of the line: the pty slave stbsim created, raw.
class Wire {
public:
    Wire() = default;
    Wire(const Wire&) = delete;
    Wire& operator=(const Wire&) = delete;
    ~Wire()
    {
        if (fd_ >= 0)
            close(fd_);
    }

    bool Open(const std::string& path)
    {
        if (fd_ >= 0)
            close(fd_);
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY);
        if (fd_ < 0)
            return false;
        termios t{};
        if (tcgetattr(fd_, &t) != 0)
            return false;
        cfmakeraw(&t);
        return tcsetattr(fd_, TCSANOW, &t) == 0;
    }

    void Send(const std::string& bytes)
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                return;
            done += static_cast<std::size_t>(n);
        }
    }

    // The box's answer: waits up to firstMs for its first byte, then takes
    // what follows until the line has been quiet for quietMs.
    std::string Answer(int firstMs, int quietMs = 300)
    {
        std::string got;
        int wait = firstMs;
        while (ReadSome(wait, got))
            wait = quietMs;
        return got;
    }

    // Reads until `needle` has arrived (true) or ms have passed; everything
    // read goes to *seen.
    bool Await(const std::string& needle, int ms, std::string* seen)
    {
        const auto until = Clock::now() + std::chrono::milliseconds(ms);
        const std::size_t from = seen->size();
        while (seen->find(needle, from) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
            if (left <= 0)
                return false;
            ReadSome(static_cast<int>(left), *seen);
        }
        return true;
    }

private:
    bool ReadSome(int ms, std::string& into)
    {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, ms) <= 0 || !(p.revents & POLLIN))
            return false;
        char buf[4096];
        const ssize_t n = read(fd_, buf, sizeof buf);
        if (n <= 0)
            return false;
        into.append(buf, static_cast<std::size_t>(n));
        return true;
    }

    int fd_ = -1;
};

std::string Block(std::uint8_t number, const std::string& data)
{
    std::string b(1, data.size() == 128 ? '\x01' : '\x02');
    b += static_cast<char>(number);
    b += static_cast<char>(255 - number);
    b += data;
    const std::uint16_t crc = stbsim::Crc16Xmodem(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
    b += static_cast<char>(crc >> 8);
    b += static_cast<char>(crc & 0xFF);
    return b;
}

// Block 0: the name, a NUL, the size in decimal; the empty one closes the batch.
std::string Header(const std::string& name, std::size_t size)
{
    std::string d(128, '\0');
    if (!name.empty()) {
        const std::string fields = name + '\0' + std::to_string(size);
        d.replace(0, fields.size(), fields);
    }
    return Block(0, d);
}

std::string DataBlock(const std::string& padded, int number)
{
    return Block(static_cast<std::uint8_t>(number), padded.substr(static_cast<std::size_t>(number - 1) * 1024, 1024));
}

std::string Pattern(std::size_t n, std::uint32_t seed)
{
    std::string s(n, '\0');
    for (auto& c : s) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 23);
    }
    return s;
}

// One stbsim run with the test as its sender.
class SimFaults : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(dir_.path.empty()); }
    void TearDown() override
    {
        if (sim_.pid > 0)
            Reap(sim_.pid, 0);
        if (sim_.out >= 0)
            close(sim_.out);
    }

    // Starts stbsim (after the previous run, if any, has been reaped) and
    // opens its line.
    void Start(std::vector<std::string> args)
    {
        if (sim_.out >= 0)
            close(sim_.out);
        args.insert(args.begin(), STBSIM);
        args.insert(args.end(), {"--out", dir_ / "got.bin", "--timeout", "60"});
        sim_ = Spawn(args, "");
        ASSERT_GT(sim_.pid, 0);
        const std::string first = ReadLine(sim_.out, 10000);
        ASSERT_EQ(first.rfind("stbsim: pty ", 0), 0u) << first;
        ASSERT_TRUE(wire_.Open(first.substr(12)));
    }

    // The box's verdict once the batch is closed.
    void ExpectPass(const std::string& want)
    {
        const std::string rest = ReadRest(sim_.out, 20000);
        const int status = Reap(sim_.pid, 5000);
        sim_.pid = -1;
        EXPECT_EQ(status, 0) << rest;
        EXPECT_EQ(LastLine(rest).rfind("stbsim: PASS", 0), 0u) << rest;
        EXPECT_TRUE(host::ReadFileBytes(dir_ / "got.bin") == want) << "--out differs from what was sent";
    }

    // The image session's opening: the start frame answered, the service word
    // given on request.
    void Open(const std::string& word)
    {
        std::string seen;
        ASSERT_TRUE(wire_.Await(kStart, 10000, &seen)) << seen;
        wire_.Send(kStartAnswer);
        ASSERT_TRUE(wire_.Await(kService, 5000, &seen)) << seen;
        wire_.Send(word);
    }

    // The batch's opening: the box's 'C', block 0, and its answer.
    std::string SendHeader(const std::string& name, std::size_t size)
    {
        std::string seen;
        EXPECT_TRUE(wire_.Await(kC, 5000, &seen)) << seen;
        wire_.Send(Header(name, size));
        return wire_.Answer(5000);
    }

    // EOT (NAKed once by the box), then the empty block 0 at its 'C'.
    void CloseBatch()
    {
        wire_.Send(kEot);
        EXPECT_EQ(wire_.Answer(5000), kNak);
        wire_.Send(kEot);
        EXPECT_EQ(wire_.Answer(5000), kAck + kC);
        wire_.Send(Header("", 0));
        EXPECT_EQ(wire_.Answer(5000), kAck + kC);
    }

    // A whole image download with no fault in the way.
    void WholeDownload(const std::string& word, const std::string& padded)
    {
        Open(word);
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_EQ(SendHeader("VELTO", padded.size()), kAck + kC);
        for (int n = 1; n <= static_cast<int>(padded.size() / 1024); ++n) {
            wire_.Send(DataBlock(padded, n));
            EXPECT_EQ(wire_.Answer(5000), kAck) << "block " << n;
        }
        CloseBatch();
    }

    host::TempDir dir_;
    Proc sim_;
    Wire wire_;
};

// Sends that the test makes and what the box must answer to each.
struct Exchange {
    int block;           // data block sent (1-based)
    std::string answer;  // everything the box says back, in one piece
};

TEST_F(SimFaults, DuplicateAckComesWithTheRealOneThenTheNextBlockIsNakedOnce)
{
    struct Case {
        const char* fault;
        std::string headerAnswer;
        std::vector<Exchange> sends;
    } cases[] = {
        {"1", kAck + kC + kAck, {{1, kNak}, {1, kAck}, {2, kAck}, {3, kAck}}},
        {"2", kAck + kC, {{1, kAck + kAck}, {2, kNak}, {2, kAck}, {3, kAck}}},
        {"3", kAck + kC, {{1, kAck}, {2, kAck + kAck}, {3, kNak}, {3, kAck}}},
    };
    const std::string file = Pattern(3000, 7);
    std::string padded = file;
    padded.resize(3072, '\x1A');
    ASSERT_TRUE(host::WriteFile(dir_ / "sent.bin", file));
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("--dup-ack-block ") + c.fault);
        Start({"--ymodem-only", "--expect", dir_ / "sent.bin", "--dup-ack-block", c.fault});
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_EQ(SendHeader("sent.bin", file.size()), c.headerAnswer);
        for (const auto& e : c.sends) {
            wire_.Send(DataBlock(padded, e.block));
            EXPECT_EQ(wire_.Answer(5000), e.answer) << "block " << e.block;
        }
        CloseBatch();
        ExpectPass(file);
    }
}

// A paced box takes bytes it has already read ahead of its line, but never
// answers a block before the line could have carried all of it (and its
// ACK). A lower bound only: a loaded machine makes the answer later, never
// earlier.
TEST_F(SimFaults, PacedBoxAnswersABlockOnlyOnceTheLineHasCarriedIt)
{
    const std::string file = Pattern(3072, 11);
    ASSERT_TRUE(host::WriteFile(dir_ / "sent.bin", file));
    for (const long rate : {921600L, 115200L}) {
        SCOPED_TRACE("--pace " + std::to_string(rate));
        Start({"--ymodem-only", "--expect", dir_ / "sent.bin", "--pace", std::to_string(rate)});
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_EQ(SendHeader("sent.bin", file.size()), kAck + kC);
        // 1029 bytes and the ACK, ten bits each.
        const auto lineTime = std::chrono::microseconds(1030LL * 10 * 1000000 / rate);
        for (int n = 1; n <= 3; ++n) {
            const auto from = Clock::now();
            wire_.Send(DataBlock(file, n));
            std::string seen;
            EXPECT_TRUE(wire_.Await(kAck, 5000, &seen)) << "block " << n << ": " << seen;
            EXPECT_GE(Clock::now() - from, lineTime) << "block " << n;
        }
        CloseBatch();
        ExpectPass(file);
    }
}

TEST_F(SimFaults, PauseSendsItsTimeOutNaksAndTheAckInOneBurst)
{
    // SEC/5 NAKs: none for a hold shorter than the box's 5 s time-out.
    struct Case {
        const char* fault;
        std::string answer;
    } cases[] = {
        {"2:3", kAck},
        {"2:11", kNak + kNak + kAck},
    };
    const std::string file = Pattern(3000, 8);
    std::string padded = file;
    padded.resize(3072, '\x1A');
    ASSERT_TRUE(host::WriteFile(dir_ / "sent.bin", file));
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("--pause-block ") + c.fault);
        Start({"--ymodem-only", "--expect", dir_ / "sent.bin", "--pause-block", c.fault});
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_EQ(SendHeader("sent.bin", file.size()), kAck + kC);
        wire_.Send(DataBlock(padded, 1));
        EXPECT_EQ(wire_.Answer(5000), kAck);
        wire_.Send(DataBlock(padded, 2));
        EXPECT_EQ(wire_.Answer(20000), c.answer);
        // The sender went by the first NAK and sent the block again: a repeat
        // of the block just taken, ACKed.
        if (c.answer != kAck) {
            wire_.Send(DataBlock(padded, 2));
            EXPECT_EQ(wire_.Answer(5000), kAck);
        }
        wire_.Send(DataBlock(padded, 3));
        EXPECT_EQ(wire_.Answer(5000), kAck);
        CloseBatch();
        ExpectPass(file);
    }
}

TEST_F(SimFaults, RebootSendsStartFramesUntilAnsweredThenTheWholeDownloadRunsAgain)
{
    const std::string word("\x0A\x0B\x0C\x0D", 4);
    const std::string payload = Pattern(3000, 9);
    std::string image(1, '\x5A');
    for (char ch : std::string("VELTOWDL"))
        image += static_cast<char>(ch ^ 0x5A);
    image += "\x01\x02" + word + payload;
    std::string padded = payload;
    padded.resize(3072, '\xFF');
    ASSERT_TRUE(host::WriteFile(dir_ / "img.dat", image));

    enum class Where { AtBlock2, OpeningC, ClosingC };
    struct Case {
        std::vector<std::string> fault;
        Where where;
    } cases[] = {
        {{"--restart-block", "2"}, Where::AtBlock2},
        {{"--restart-at-c", "open"}, Where::OpeningC},
        {{"--restart-at-c", "close"}, Where::ClosingC},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault[0] + " " + c.fault[1]);
        std::vector<std::string> args = {"--mode", "image", "--expect", dir_ / "img.dat"};
        args.insert(args.end(), c.fault.begin(), c.fault.end());
        Start(args);
        ASSERT_FALSE(HasFatalFailure());
        Open(word);
        ASSERT_FALSE(HasFatalFailure());
        std::string seen;
        if (c.where != Where::OpeningC) {
            EXPECT_EQ(SendHeader("VELTO", padded.size()), kAck + kC);
            wire_.Send(DataBlock(padded, 1));
            EXPECT_EQ(wire_.Answer(5000), kAck);
            wire_.Send(DataBlock(padded, 2));
            if (c.where == Where::ClosingC) {
                EXPECT_EQ(wire_.Answer(5000), kAck);
                wire_.Send(DataBlock(padded, 3));
                EXPECT_EQ(wire_.Answer(5000), kAck);
                wire_.Send(kEot);
                EXPECT_EQ(wire_.Answer(5000), kNak);
                wire_.Send(kEot);
                // The EOT is ACKed; the 'C' that would follow is the start frame.
                ASSERT_TRUE(wire_.Await(kAck, 5000, &seen)) << seen;
            }
        }
        // The box starts over: no answer to what was sent, no 'C', only its
        // start frame, again and again until it is answered.
        const std::size_t from = seen.size();
        ASSERT_TRUE(wire_.Await(kStart, 5000, &seen)) << seen;
        ASSERT_TRUE(wire_.Await(kStart, 5000, &seen)) << seen;
        EXPECT_EQ(seen.substr(from).find_first_not_of(kStart), std::string::npos)
            << "before the start frames: " << seen;
        WholeDownload(word, padded);
        ExpectPass(padded);
    }
}

}  // namespace
