// SPDX-License-Identifier: MIT
// The command line is the contract with the simulator's users; a rule that
// slips would turn a test's typo into a run that checks nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "options.h"

using namespace stbsim;

namespace {
bool Parse(std::vector<std::string> args, Options& opt, std::string& err)
{
    args.insert(args.begin(), "stbsim");
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    return ParseOptions(static_cast<int>(argv.size()), argv.data(), opt, err);
}
}  // namespace

TEST(SimOptions, AcceptsAndRejects)
{
    struct Case {
        std::vector<std::string> args;
        bool ok;
    } cases[] = {
        {{"--mode", "image"}, true},
        {{"--mode=served", "--size", "100"}, true},
        {{"--mode", "served", "--expect", "f.bin", "--chunk", "65535", "--shuffle=3"}, true},
        {{"--mode", "image", "--nak-block", "3:5", "--retries", "2", "--ber", "1e-4"}, true},
        {{"--mode", "image", "--hang-up-block", "2"}, true},
        {{"--mode", "image", "--dup-ack-block", "1", "--restart-block", "4", "--pause-block", "3:600"}, true},
        {{"--mode", "image", "--restart-at-c", "open"}, true},
        {{"--mode=image", "--restart-at-c=close"}, true},
        {{"--ymodem-only", "--dup-ack-block", "2", "--pause-block", "1:1"}, true},
        {{"--mode", "listen", "--timeout", "3", "--out", "wire.bin"}, true},
        {{"--mode", "served", "--expect", "f", "--request", "4294967295:65535", "--request", "0:1"}, true},
        {{"--mode", "served", "--size", "5", "--edge-every", "3"}, true},
        {{"--ymodem-only"}, true},
        {{"--help"}, true},
        {{}, false},  // no mode
        {{"--mode", "serial"}, false},
        {{"--mode", "served"}, false},  // neither --expect nor --size
        {{"--mode", "served", "--size", "5", "--expect", "f"}, false},
        {{"--mode", "served", "--size", "5", "--chunk", "0"}, false},
        {{"--mode", "served", "--size", "5", "--chunk", "65536"}, false},
        {{"--mode", "served", "--size", "5", "--nak-block", "1"}, false},  // image-only fault
        {{"--mode", "image", "--shuffle"}, false},                         // served-only option
        {{"--mode", "image", "--edge-every", "2"}, false},
        {{"--mode", "listen", "--nak-block", "2"}, false},
        {{"--mode", "served", "--size", "5", "--request", "0:10"}, false},  // checks against --expect
        {{"--mode", "served", "--expect", "f", "--request", "4294967296:1"}, false},
        {{"--mode", "served", "--expect", "f", "--request", "7:0"}, false},
        {{"--mode", "image", "--nak-block", "0"}, false},  // blocks count from 1
        {{"--mode", "image", "--nak-block", "2:"}, false},
        {{"--mode", "image", "--ber", "2"}, false},
        {{"--mode", "image", "--timeout"}, false},  // value missing
        {{"--mode", "image", "--port", "/dev/ttyS1", "--link", "x"}, false},
        {{"--mode", "image", "--frobnicate"}, false},
        {{"--mode", "image", "--bad-etx=1"}, false},
        {{"--mode", "image", "--dup-ack-block", "0"}, false},
        {{"--mode", "image", "--restart-at-c", "middle"}, false},
        {{"--mode", "image", "--pause-block", "3"}, false},  // the seconds are required
        {{"--mode", "image", "--pause-block", "3:0"}, false},
        {{"--mode", "image", "--pause-block", "3:601"}, false},
        {{"--mode", "served", "--size", "5", "--restart-block", "2"}, false},  // image-only fault
        {{"--ymodem-only", "--restart-block", "2"}, false},                    // a reboot needs the session
        {{"--ymodem-only", "--restart-at-c", "open"}, false},
    };
    for (const auto& c : cases) {
        Options opt;
        std::string err;
        std::string joined;
        for (const auto& a : c.args)
            joined += a + " ";
        EXPECT_EQ(Parse(c.args, opt, err), c.ok) << joined << "-> " << err;
    }
}

TEST(SimOptions, ValuesLandWhereTheyBelong)
{
    Options opt;
    std::string err;
    ASSERT_TRUE(Parse({"--mode", "image", "--nak-block", "7:3", "--seed", "9", "--pace=9600"}, opt, err)) << err;
    EXPECT_EQ(opt.mode, Mode::Image);
    EXPECT_EQ(opt.nakBlock, 7);
    EXPECT_EQ(opt.nakCount, 3);
    EXPECT_EQ(opt.pace, 9600);
    EXPECT_EQ(opt.timeoutSec, 120);

    Options faults;
    ASSERT_TRUE(Parse({"--mode", "image", "--pause-block", "5:12", "--restart-at-c", "close", "--dup-ack-block", "2"},
                      faults, err))
        << err;
    EXPECT_EQ(faults.pauseBlock, 5);
    EXPECT_EQ(faults.pauseSec, 12);
    EXPECT_EQ(faults.restartAtC, RestartAt::Close);
    EXPECT_EQ(faults.dupAckBlock, 2);
    EXPECT_EQ(faults.restartBlock, 0);

    Options def;
    ASSERT_TRUE(Parse({"--mode", "image", "--nak-block", "4"}, def, err)) << err;
    EXPECT_EQ(def.nakCount, 1);

    // --shuffle without a seed of its own takes --seed's, wherever it stands.
    Options sh;
    ASSERT_TRUE(Parse({"--mode", "served", "--size", "10", "--shuffle", "--seed", "42"}, sh, err)) << err;
    EXPECT_TRUE(sh.shuffle);
    EXPECT_EQ(sh.shuffleSeed, 42u);
    EXPECT_EQ(sh.chunk, 4096);
    EXPECT_EQ(sh.timeEvery, 8);
}
