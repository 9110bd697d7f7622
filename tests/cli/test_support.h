// SPDX-License-Identifier: MIT
// What the CLI tests share: where the programs are, and image files.
#pragma once

#include "proc.h"

#include <gtest/gtest.h>

#include <string>

#ifndef MARBRIX_CLI
#error "MARBRIX_CLI must name the marbrix-cli binary"
#endif

inline const std::string kCli = MARBRIX_CLI;

// Exit codes of marbrix-cli.
enum { kExitSent = 0, kExitUsage = 1, kExitRejected = 2, kExitPort = 3, kExitFile = 4, kExitIncomplete = 5 };

// Sends `sig` to the CLI and expects it to end with `exitCode` within the
// bound (a fatal failure when it does not end).
inline void ExpectSignalEnds(Child& cli, int sig, int exitCode, int timeoutMs = 30000)
{
    cli.Signal(sig);
    auto rc = cli.Wait(timeoutMs);
    ASSERT_TRUE(rc.has_value()) << "signal " << sig << " did not end the CLI\n" << cli.err;
    EXPECT_EQ(*rc, exitCode) << cli.err;
}

// An image file exactly as the engine loads it: mask key, masked magic,
// version, service word, payload.
inline std::string MakeImage(const std::string& payload, const std::string& serviceWord = "\x11\x22\x33\x44",
                             unsigned char maskKey = 0x5A, unsigned char major = 1, unsigned char minor = 2)
{
    std::string f(1, char(maskKey));
    for (char c : std::string("VELTOWDL"))
        f += char(c ^ maskKey);
    f += char(major);
    f += char(minor);
    f += serviceWord.substr(0, 4);
    return f + payload;
}

// The payload as the box receives it: padded with 0xFF to whole KiB.
inline std::string Padded(const std::string& payload)
{
    size_t size = (payload.size() + 15 + 1008) & ~size_t(1023);
    std::string p = payload;
    p.resize(size, char(0xFF));
    return p;
}
