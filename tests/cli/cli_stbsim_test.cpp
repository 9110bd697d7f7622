// SPDX-License-Identifier: MIT
// marbrix-cli against stbsim, the set-top box simulator, over the pty stbsim
// creates: what the box receives must be what the file holds.
#include "test_support.h"

#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <unistd.h>

namespace {

const std::string kSim = STBSIM;

// Starts stbsim and learns its pty from the first line it prints.
bool StartSim(Child* sim, const std::vector<std::string>& args, std::string* pty)
{
    std::vector<std::string> argv = {kSim};
    argv.insert(argv.end(), args.begin(), args.end());
    if (!sim->Spawn(argv) || !sim->WaitForOutput(false, "stbsim: pty ", 10000))
        return false;
    size_t at = sim->out.find("stbsim: pty ") + 12;
    if (!sim->WaitForOutput(false, "\n", 5000))
        return false;
    *pty = sim->out.substr(at, sim->out.find('\n', at) - at);
    return !pty->empty();
}

// One image download: stbsim with `args`, then the CLI on its pty with
// `file`; the CLI's exit code, or nothing when either did not come up or the
// CLI did not end within its bound (the reason is already reported).
std::optional<int> DownloadTo(Child* sim, Child* cli, const std::vector<std::string>& args, const std::string& file)
{
    std::string pty;
    if (!StartSim(sim, args, &pty)) {
        ADD_FAILURE() << "stbsim did not come up\n" << sim->out << sim->err;
        return std::nullopt;
    }
    if (!cli->Spawn({kCli, "-p", pty, file})) {
        ADD_FAILURE() << "marbrix-cli did not start";
        return std::nullopt;
    }
    auto rc = cli->Wait(150000);
    if (!rc)
        ADD_FAILURE() << "marbrix-cli did not end\n" << cli->err << sim->out;
    return rc;
}

// The simulator's verdict, once it has ended by itself.
void ExpectSimPass(Child& sim, int timeoutMs)
{
    auto rc = sim.Wait(timeoutMs);
    ASSERT_TRUE(rc.has_value()) << "stbsim did not finish\n" << sim.out << sim.err;
    EXPECT_EQ(*rc, 0) << sim.out << sim.err;
    EXPECT_NE(sim.out.find("stbsim: PASS"), std::string::npos) << sim.out;
}

class ImageArrives : public ::testing::TestWithParam<size_t> {};

TEST_P(ImageArrives, IdenticalAndPadded)
{
    TempDir dir;
    const std::string payload = RandomBytes(GetParam(), unsigned(GetParam()) + 1);
    ASSERT_TRUE(WriteFile(dir / "img.dat", MakeImage(payload, std::string("\x00\xFF\x10\x01", 4))));
    Child sim;
    std::string pty;
    ASSERT_TRUE(StartSim(&sim, {"--mode", "image", "--expect", dir / "img.dat", "--timeout", "120"}, &pty))
        << sim.out << sim.err;

    Child cli;
    ASSERT_TRUE(cli.Spawn({kCli, "-p", pty, dir / "img.dat"}));
    auto rc = cli.Wait(150000);
    ASSERT_TRUE(rc.has_value()) << cli.err;
    EXPECT_EQ(*rc, kExitSent) << cli.err;
    EXPECT_NE(cli.err.find("  Velto file send OK!\n"), std::string::npos) << cli.err;
    EXPECT_EQ(cli.err.find('\x1b'), std::string::npos) << "no colour and no bar in a pipe";
    ExpectSimPass(sim, 30000);
}

// One byte, exactly one block, one byte more (1023 bytes of 0xFF), and a
// 300 KiB image whose block numbers wrap past 255.
INSTANTIATE_TEST_SUITE_P(Cli, ImageArrives,
                         ::testing::Values(size_t(1), size_t(1024), size_t(1025), size_t(300 * 1024)));

// Box behaviours the download has to live through; the image still arrives whole.
struct Quirk {
    const char* name;
    std::vector<std::string> args;
    bool chatter;  // the box prints console text the CLI passes to stdout
};

class ImageSurvives : public ::testing::TestWithParam<Quirk> {};

TEST_P(ImageSurvives, BoxQuirk)
{
    const Quirk& q = GetParam();
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "img.dat", MakeImage(RandomBytes(5000, 11))));
    std::vector<std::string> args = {"--mode", "image", "--expect", dir / "img.dat", "--timeout", "120"};
    args.insert(args.end(), q.args.begin(), q.args.end());
    Child sim, cli;
    const auto rc = DownloadTo(&sim, &cli, args, dir / "img.dat");
    ASSERT_TRUE(rc.has_value());
    EXPECT_EQ(*rc, kExitSent) << cli.err;
    ExpectSimPass(sim, 30000);
    if (q.chatter) {
        EXPECT_FALSE(cli.out.empty()) << "the box's console text belongs on stdout";
    }
}

INSTANTIATE_TEST_SUITE_P(Cli, ImageSurvives,
                         ::testing::Values(Quirk{"NakedBlock", {"--nak-block", "2:4"}, false},
                                           Quirk{"NakedFirstBlock0", {"--nak-block0"}, false},
                                           Quirk{"JunkBeforeC", {"--junk-before-c", "5"}, false},
                                           Quirk{"WrongFrameEnd", {"--bad-etx"}, false},
                                           Quirk{"ConsoleChatter", {"--junk-before-stx", "24"}, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Box faults that leave a stale byte on the line or start the session over.
// The CLI may say "sent" only when the box holds the whole image; each of
// these is within what the protocol recovers from, so it must say it.
struct LineFault {
    const char* name;
    std::vector<std::string> args;
    bool reboots;  // the box starts over once; its start frame must be answered at once
};

// How many start frames the box sent before its last handshake was answered.
int FramesBeforeLastAnswer(const std::string& simOut)
{
    const std::string key = "handshake answered (02 AB AC 03) after ";
    const size_t at = simOut.rfind(key);
    return at == std::string::npos ? -1 : std::atoi(simOut.c_str() + at + key.size());
}

class VerdictHolds : public ::testing::TestWithParam<LineFault> {};

TEST_P(VerdictHolds, SentOnlyWhenTheBoxHoldsTheImage)
{
    const LineFault& f = GetParam();
    TempDir dir;
    const std::string payload = RandomBytes(5000, 23);  // five data blocks
    ASSERT_TRUE(WriteFile(dir / "img.dat", MakeImage(payload)));
    std::vector<std::string> args = {"--mode",        "image",  "--expect", dir / "img.dat", "--out",
                                     dir / "box.bin", "--pace", "115200",   "--timeout",     "90"};
    args.insert(args.end(), f.args.begin(), f.args.end());
    Child sim, cli;
    const auto rc = DownloadTo(&sim, &cli, args, dir / "img.dat");
    ASSERT_TRUE(rc.has_value());
    // A box that passed ends within a second of the CLI; one still waiting
    // for an answer is given a while and then counts as not holding the image.
    auto simRc = sim.Wait(20000);
    const bool boxHasImage = simRc == 0 && sim.out.find("stbsim: PASS") != std::string::npos &&
                             ReadFileBytes(dir / "box.bin") == Padded(payload);
    const bool saidSent = *rc == kExitSent || cli.err.find("Velto file send OK!") != std::string::npos;
    if (saidSent) {
        EXPECT_TRUE(boxHasImage) << "the CLI said sent, the box does not hold the image\n" << cli.err << sim.out;
    }
    EXPECT_EQ(*rc, kExitSent) << cli.err << sim.out;
    EXPECT_NE(cli.err.find("  Velto file send OK!\n"), std::string::npos) << cli.err;
    EXPECT_TRUE(boxHasImage) << sim.out;
    if (f.reboots) {
        // The interrupted transfer ends as a failure, and the box's new
        // start is answered promptly (a sender that ignores it takes minutes).
        EXPECT_NE(cli.err.find("Send File Failed!!"), std::string::npos) << cli.err;
        const int frames = FramesBeforeLastAnswer(sim.out);
        EXPECT_GE(frames, 1) << sim.out;
        EXPECT_LE(frames, 5) << sim.out;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cli, VerdictHolds,
    ::testing::Values(LineFault{"DuplicateAckBeforeBlock1", {"--dup-ack-block", "1"}, false},
                      LineFault{"DuplicateAckBeforeBlock3", {"--dup-ack-block", "3"}, false},
                      LineFault{"DuplicateAckBeforeTheLastBlock", {"--dup-ack-block", "5"}, false},
                      LineFault{"PauseBeforeAnsweringBlock2", {"--pause-block", "2:11"}, false},
                      LineFault{"PauseBeforeAnsweringTheLastBlock", {"--pause-block", "5:6"}, false},
                      LineFault{"RebootAtBlock3", {"--restart-block", "3"}, true},
                      LineFault{"RebootInsteadOfTheOpeningC", {"--restart-at-c", "open"}, true},
                      LineFault{"RebootInsteadOfTheClosingC", {"--restart-at-c", "close"}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CliServed, ShuffledChunksAndRequestsPastTheEndArriveThenSigintEnds)
{
    TempDir dir;
    const std::string file = RandomBytes(200 * 1024, 99);
    ASSERT_TRUE(WriteFile(dir / "app.sdl", file));
    Child sim;
    std::string pty;
    ASSERT_TRUE(StartSim(&sim,
                         {"--mode", "served", "--expect", dir / "app.sdl", "--chunk", "3000", "--shuffle=5",
                          "--time-every", "8", "--edge-every", "5", "--timeout", "120"},
                         &pty))
        << sim.out << sim.err;
    Child cli;
    ASSERT_TRUE(cli.Spawn({kCli, "-p", pty, dir / "app.sdl"}));
    ExpectSimPass(sim, 150000);

    // A served download has no end of its own: the operator stops it.
    ASSERT_NO_FATAL_FAILURE(ExpectSignalEnds(cli, SIGINT, kExitSent));
    EXPECT_NE(cli.err.find("  [VUMO] => STB_START\r\n"), std::string::npos) << cli.err;
    EXPECT_NE(cli.err.find("  [VUMO] <= VUMO_TIME_REP\r\n"), std::string::npos) << cli.err;
    EXPECT_NE(cli.err.find("  [VUMO] User break off\r\n"), std::string::npos) << cli.err;
    EXPECT_EQ(cli.err.find("Velto File Download!"), std::string::npos) << cli.err;
}

TEST(CliImage, SigintDuringTheTransferExitsFive)
{
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "img.dat", MakeImage(RandomBytes(300 * 1024, 5))));
    Child sim;
    std::string pty;
    // Paced like a real line, so the transfer is still running when the signal comes.
    ASSERT_TRUE(StartSim(
        &sim, {"--mode", "image", "--expect", dir / "img.dat", "--pace", "115200", "--timeout", "120"}, &pty))
        << sim.out << sim.err;
    Child cli;
    ASSERT_TRUE(cli.Spawn({kCli, "-p", pty, dir / "img.dat"}));
    ASSERT_TRUE(cli.WaitForOutput(true, "Start Service......\n", 30000)) << cli.err;
    // Let some data blocks go by (the whole image takes about 27 s); the
    // result does not depend on where the signal lands.
    usleep(2000 * 1000);
    ASSERT_NO_FATAL_FAILURE(ExpectSignalEnds(cli, SIGINT, kExitIncomplete));
    EXPECT_NE(cli.err.find("  [VUMO] User break off\r\n"), std::string::npos) << cli.err;
    EXPECT_EQ(cli.err.find("Velto file send OK!"), std::string::npos) << cli.err;
    // The box saw an incomplete transfer; it must not pass.
    sim.Kill();
}

}  // namespace
