// SPDX-License-Identifier: MIT
// stbsim: a set-top box on a serial line, for tests and demos. It leads the
// download protocol as the box does and checks that what the engine sends
// arrives whole and identical.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "faults.h"
#include "image_session.h"
#include "line.h"
#include "listen.h"
#include "options.h"
#include "report.h"
#include "served_session.h"

namespace {

// The symlink made for --link, removed on every way out, signals included.
char g_linkPath[4096] = {0};

void RemoveLink()
{
    if (g_linkPath[0])
        unlink(g_linkPath);
}

void OnFatalSignal(int sig)
{
    RemoveLink();
    // Only async-signal-safe calls here.
    const char* msg = sig == SIGALRM ? "stbsim: FAIL: timeout\n" : "stbsim: FAIL: interrupted\n";
    ssize_t ignored = write(STDOUT_FILENO, msg, std::strlen(msg));
    (void)ignored;
    _exit(1);
}

void InstallSignals()
{
    struct sigaction sa {};
    sa.sa_handler = OnFatalSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGALRM})
        sigaction(sig, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace stbsim;
    Options opt;
    std::string error;
    if (!ParseOptions(argc, argv, opt, error)) {
        std::fprintf(stderr, "stbsim: %s\n%s", error.c_str(), UsageText());
        return 2;
    }
    if (opt.help) {
        std::fputs(UsageText(), stdout);
        return 0;
    }
    InstallSignals();

    Line line;
    if (opt.port.empty()) {
        std::string slave;
        if (!line.OpenPty(slave, error)) {
            Report("FAIL: " + error);
            return 1;
        }
        Report("pty " + slave);
        if (!opt.link.empty()) {
            // A link left over from an earlier run is replaced; anything else is not touched.
            char target[16];
            if (readlink(opt.link.c_str(), target, sizeof target) >= 0)
                unlink(opt.link.c_str());
            if (symlink(slave.c_str(), opt.link.c_str()) != 0) {
                Report("FAIL: cannot link " + opt.link + ": " + std::strerror(errno));
                return 1;
            }
            std::snprintf(g_linkPath, sizeof g_linkPath, "%s", opt.link.c_str());
            Report("link " + opt.link + " -> " + slave);
        }
    } else {
        if (!line.OpenDevice(opt.port, opt.pace, error)) {
            Report("FAIL: " + error);
            return 1;
        }
        Report("port " + opt.port);
    }

    // The deadline bounds every wait; the alarm is a backstop a little later.
    line.SetDeadline(Line::Clock::now() + std::chrono::seconds(opt.timeoutSec));
    alarm(static_cast<unsigned>(opt.timeoutSec + 5));
    line.SetPace(opt.pace);
    BitErrors ber(opt.ber, opt.seed);
    if (ber.Active()) {
        line.SetBitErrors(&ber);
        SetVerdictPreamble([&ber] { return "bit errors: " + std::to_string(ber.Flips()) + " bit(s) flipped"; });
    }
    Faults faults(opt);

    int status = 1;
    try {
        if (opt.mode == Mode::Listen)
            status = Listen(line, opt);
        else
            status =
                opt.mode == Mode::Image ? RunImageSession(line, faults, opt) : RunServedSession(line, faults, opt);
    } catch (const DeadlineExpired&) {
        Report("FAIL: timeout after " + std::to_string(opt.timeoutSec) + " s");
        status = 1;
    }
    RemoveLink();
    return status;
}
