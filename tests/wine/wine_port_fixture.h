// SPDX-License-Identifier: MIT
// What the Linux drivers of the Windows programs share: the environment
// scripts/test-windows.sh passes (the Wine prefix, the COM port and the
// symlink it is mapped to, stbsim), the check that the port really leads to
// that symlink before anything opens it, and stbsim started on a pty that
// the port is then pointed at; marbrix-cli.exe started under Wine. The
// production line's tests use several such ports, each with a symlink of its
// own.
#pragma once

#include "test_support.h"

#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace wine {

inline std::string Env(const char* name)
{
    const char* v = getenv(name);
    return v ? v : "";
}

inline std::string ReadLink(const std::string& path)
{
    char buf[PATH_MAX];
    ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
    return n < 0 ? "" : std::string(buf, size_t(n));
}

inline std::string Lower(std::string s)
{
    for (char& c : s)
        c = char(tolower(static_cast<unsigned char>(c)));
    return s;
}

// A Unix path as the Windows program names it: Wine's drive Z: is /.
inline std::string WinPath(const std::string& unixPath)
{
    std::string p = "Z:" + unixPath;
    for (char& c : p)
        if (c == '/')
            c = '\\';
    return p;
}

// marbrix-cli.exe, as scripts/test-windows.sh names it ("" outside its run).
inline std::string CliExe()
{
    static const std::string exe = Env("MARBRIX_CLI_EXE");
    return exe;
}

// Starts marbrix-cli.exe with `args` under Wine, quiet, with `env` added
// (NAME=VALUE).
inline bool SpawnCli(Child* cli, const std::vector<std::string>& args, const std::vector<std::string>& env = {})
{
    std::vector<std::string> argv = {"wine", CliExe()};
    argv.insert(argv.end(), args.begin(), args.end());
    SpawnOptions o;
    o.env = {"WINEDEBUG=-all"};
    o.env.insert(o.env.end(), env.begin(), env.end());
    return cli->Spawn(argv, o);
}

struct Setup {
    std::string link = Env("MARBRIX_COM_LINK");  // the symlink the port is mapped to
    std::string com = Env("MARBRIX_COM_NAME");   // "COM7"
    std::string sim = Env("STBSIM");
    std::string prefix = Env("WINEPREFIX");
    bool Complete() const { return !link.empty() && !com.empty() && !sim.empty() && !prefix.empty(); }
};

inline const Setup& Port()
{
    static const Setup s;
    return s;
}

// The production line's ports (MARBRIX_LINE_COMS, "COM7,COM8,COM9,COM10"),
// each mapped to the symlink tty<COMn> in MARBRIX_COM_DIR.
inline std::vector<std::string> LineComs()
{
    std::vector<std::string> coms;
    std::string list = Env("MARBRIX_LINE_COMS");
    size_t from = 0;
    while (from < list.size()) {
        size_t comma = list.find(',', from);
        if (comma == std::string::npos)
            comma = list.size();
        if (comma > from)
            coms.push_back(list.substr(from, comma - from));
        from = comma + 1;
    }
    return coms;
}

inline std::string LinkOf(const std::string& com)
{
    return Env("MARBRIX_COM_DIR") + "/tty" + com;
}

class PortFixture : public ::testing::Test {
protected:
    // Skips with `needs` unless the port's environment and `extra` are all
    // there; then proves the port leads to our symlink.
    void CheckPort(bool extra, const char* needs)
    {
        if (!Port().Complete() || !extra)
            GTEST_SKIP() << "run by scripts/test-windows.sh (needs " << needs << ")";
        ASSERT_NO_FATAL_FAILURE(CheckMapped(Port().com, Port().link));
    }

    // Never COM1..COM4 (unmapped, Wine sends them to /dev/ttyS0..3), and
    // the port must lead to `link` before anything opens it.
    static void CheckMapped(const std::string& com, const std::string& link)
    {
        ASSERT_EQ(Lower(com.substr(0, 3)), "com") << com;
        ASSERT_GT(atoi(com.c_str() + 3), 4) << com;
        const std::string dosdevice = Port().prefix + "/dosdevices/" + Lower(com);
        ASSERT_EQ(ReadLink(dosdevice), link) << dosdevice;
    }

    // Re-points the COM port at `pty`; the rename makes the switch atomic.
    void PointComAt(const std::string& pty) { PointLinkAt(Port().link, pty); }

    static void PointLinkAt(const std::string& link, const std::string& pty)
    {
        const std::string tmp = link + ".new";
        unlink(tmp.c_str());
        ASSERT_EQ(symlink(pty.c_str(), tmp.c_str()), 0);
        ASSERT_EQ(rename(tmp.c_str(), link.c_str()), 0);
        ASSERT_EQ(ReadLink(link), pty);
    }

    // Starts stbsim, learns its pty and maps the COM port to it.
    void StartSim(Child* sim, const std::vector<std::string>& args) { StartSimOn(Port().link, sim, args); }

    // The same for the port mapped to `link`.
    static void StartSimOn(const std::string& link, Child* sim, const std::vector<std::string>& args)
    {
        std::vector<std::string> argv = {Port().sim};
        argv.insert(argv.end(), args.begin(), args.end());
        ASSERT_TRUE(sim->Spawn(argv) && sim->WaitForOutput(false, "stbsim: pty ", 10000)) << sim->out << sim->err;
        ASSERT_TRUE(sim->WaitForOutput(false, "\n", 5000));
        size_t at = sim->out.find("stbsim: pty ") + 12;
        std::string pty = sim->out.substr(at, sim->out.find('\n', at) - at);
        ASSERT_FALSE(pty.empty());
        PointLinkAt(link, pty);
    }

    static void ExpectSimPass(Child& sim, int timeoutMs)
    {
        auto rc = sim.Wait(timeoutMs);
        ASSERT_TRUE(rc.has_value()) << "stbsim did not finish\n" << sim.out << sim.err;
        EXPECT_EQ(*rc, 0) << sim.out << sim.err;
        EXPECT_NE(sim.out.find("stbsim: PASS"), std::string::npos) << sim.out;
    }
};

}  // namespace wine
