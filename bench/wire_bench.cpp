// SPDX-License-Identifier: MIT
// Wire speed of marbrix-cli side by side with lrzsz's `sb -k`, both sending
// into lrzsz's `rb` through the same paced 8N1 relay, and the CLI's CPU cost
// while it sends, while it waits on a silent box and while the box chatters.
//
// Every figure is the median of --runs runs (3 by default) with min and max.
// A run whose relay fell behind the line, whose receiver did not get the
// file byte for byte, or whose programs failed is repeated (up to twice) and
// never counted. This prints figures; it asserts nothing about time.
//
// Usage: wire_bench --cli PATH [--runs N] [--rates 115200,460800,921600]
//                   [--only transfer|idle|chatter] [--idle-seconds 30]
//                   [--chatter-seconds 10]
#include "bench_proc.h"
#include "line_relay.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace bench;

namespace {

constexpr uint8_t kSoh = 0x01, kStx = 0x02, kEot = 0x04, kAck = 0x06;
constexpr int kRetries = 2;

struct Options {
    std::string cli;
    int runs = 3;
    std::vector<uint32_t> rates = {115200, 460800, 921600};
    std::string only;
    int idleSeconds = 30;
    int chatterSeconds = 10;
    uint32_t chatterRate = 921600;
};

// Median, min and max of some runs.
struct Spread {
    std::vector<double> v;
    void Add(double x) { v.push_back(x); }
    bool Empty() const { return v.empty(); }
    double Median() const
    {
        std::vector<double> s = v;
        std::sort(s.begin(), s.end());
        const size_t n = s.size();
        return n % 2 ? s[n / 2] : (s[n / 2 - 1] + s[n / 2]) / 2;
    }
    std::string Show(const char* fmt) const
    {
        if (v.empty())
            return "failed";
        char a[32], b[32], c[32], out[128];
        snprintf(a, sizeof a, fmt, Median());
        snprintf(b, sizeof b, fmt, *std::min_element(v.begin(), v.end()));
        snprintf(c, sizeof c, fmt, *std::max_element(v.begin(), v.end()));
        snprintf(out, sizeof out, "%s [%s..%s]", a, b, c);
        return out;
    }
};

// ---------------------------------------------------------------------------
// One transfer through the relay.

struct Transfer {
    bool ok = false;
    std::string why;          // when not ok
    double seconds = 0;       // first byte of block 0 on the line to the last data block's ACK
    double efficiency = 0;    // payload byte times over that duration
    double turnaroundUs = 0;  // mean, ACK's last bit to the next block's first byte
    int turnarounds = 0;
    double receiverUs = 0;  // mean, block's last byte to rb to rb's ACK
    double cpuPerMiB = 0;   // the sender's user + system seconds per MiB
    double maxLateUs = 0;   // the relay's worst delay beyond its batch
    double addedShare = 0;  // the relay's own delays over the duration
};

// A run is counted only when the relay's own delays, taken off its
// duration, stay under this share of it.
constexpr double kMaxRelayShare = 0.03;

void Analyse(const RelayRun& run, uint32_t baud, size_t payload, Transfer* t)
{
    const auto& sent = run.toReceiver.Arrivals();
    const auto& replies = run.toSender.Deliveries();
    if (sent.empty() || replies.empty()) {
        t->why = "nothing crossed the line";
        return;
    }
    int64_t start = sent.front().at;
    for (const auto& a : sent)
        if (a.first == kSoh) {
            start = a.at;
            break;
        }
    // The payload's share ends with the ACK of the last data block, just
    // before the first EOT: rb then takes its time over the batch's close
    // (about a second after EOT and another before its 'C'), the same
    // whoever sends.
    // The EOT is what the sender puts on the line first after an ACK, as
    // a block is: a sender that writes byte by byte also sends data bytes
    // of that value in reads of their own.
    int64_t eotAt = -1;
    size_t r = 0;
    for (size_t i = 1; i < sent.size() && eotAt < 0; ++i) {
        bool replied = false;
        while (r < replies.size() && replies[r].at <= sent[i].at) {
            replied = replied || replies[r].at > sent[i - 1].at;
            ++r;
        }
        if (replied && sent[i].at > start && sent[i].first == kEot)
            eotAt = sent[i].at;
    }
    int64_t end = -1;
    for (const auto& r : replies)
        if (eotAt < 0 || r.at <= eotAt)
            end = r.at;
    if (end <= start) {
        t->why = "no data block was acknowledged";
        return;
    }
    // Every late burst end of the relay held the whole exchange up by as
    // much: the line's own duration is the wall time without them.
    const int64_t added = run.toReceiver.AddedNs() + run.toSender.AddedNs();
    t->addedShare = double(added) / double(end - start);
    t->seconds = double(end - start - added) / 1e9;
    t->efficiency = double(payload) * 10.0 / double(baud) / t->seconds;

    // Each ACK handed to the sender, and the sender's next bytes on the
    // line when they open a data block with no other reply in between.
    double sum = 0;
    size_t next = 0;
    for (size_t i = 0; i < replies.size(); ++i) {
        const auto& r = replies[i];
        if (r.count != 1 || r.last != kAck)
            continue;
        while (next < sent.size() && sent[next].at < r.at)
            ++next;
        if (next == sent.size())
            break;
        if (sent[next].first != kStx)
            continue;
        if (i + 1 < replies.size() && replies[i + 1].at < sent[next].at)
            continue;
        sum += double(sent[next].at - r.at) / 1000.0;
        ++t->turnarounds;
    }
    t->turnaroundUs = t->turnarounds ? sum / t->turnarounds : 0;

    // The receiver's side of each exchange: a block's last byte handed to
    // rb, to rb's ACK read back.
    const auto& blocks = run.toReceiver.Deliveries();
    const auto& acks = run.toSender.Arrivals();
    double rbSum = 0;
    int rbCount = 0;
    size_t b = 0;
    for (const auto& a : acks) {
        if (a.count != 1 || a.first != kAck || a.at > end)
            continue;
        while (b + 1 < blocks.size() && blocks[b + 1].at <= a.at)
            ++b;
        if (b < blocks.size() && blocks[b].at <= a.at) {
            rbSum += double(a.at - blocks[b].at) / 1000.0;
            ++rbCount;
        }
    }
    t->receiverUs = rbCount ? rbSum / rbCount : 0;
    t->maxLateUs = std::max(run.toReceiver.MaxLateNs(), run.toSender.MaxLateNs()) / 1000.0;
    if (t->addedShare > kMaxRelayShare) {
        char why[160];
        snprintf(why, sizeof why, "the relay fell behind the line: its own delays add up to %.2f %% of the run",
                 100 * t->addedShare);
        t->why = why;
    }
}

// Reads from fd into *got until it holds `needle`; bounded.
bool ReadUntil(int fd, std::string* got, const std::string& needle, int timeoutMs)
{
    const int64_t deadline = MonoNs() + int64_t(timeoutMs) * 1000000;
    while (got->find(needle) == std::string::npos) {
        const int64_t left = (deadline - MonoNs()) / 1000000;
        if (left <= 0)
            return false;
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, int(std::min<int64_t>(left, 50))) <= 0 || !(p.revents & POLLIN)) {
            if (p.revents & POLLHUP)
                usleep(5000);  // nobody holds the slave yet
            continue;
        }
        char buf[512];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0)
            got->append(buf, size_t(n));
    }
    return true;
}

void Drain(int fd, int quietMs)
{
    std::string sink;
    ReadUntil(fd, &sink, std::string("\xff\xfe\xfd\xfc", 4), quietMs);
}

// The box's part before the transfer: the start handshake, then the
// request for the service word and the image.
bool BoxHandshake(int master, std::string* why)
{
    const std::string start("\x02\xAA\x03", 3), answer("\x02\xAB\xAC\x03", 4), service("\x02\xB0\x03", 3);
    std::string got;
    bool answered = false;
    for (int i = 0; i < 40 && !answered; ++i) {
        if (write(master, start.data(), start.size()) < 0)
            usleep(100000);
        answered = ReadUntil(master, &got, answer, 500);
    }
    if (!answered) {
        *why = "the CLI did not answer the start frame";
        return false;
    }
    Drain(master, 300);
    if (write(master, service.data(), service.size()) != ssize_t(service.size())) {
        *why = "cannot write to the pty";
        return false;
    }
    std::string word;
    const int64_t deadline = MonoNs() + 5000000000LL;
    while (word.size() < 4 && MonoNs() < deadline) {
        pollfd p = {master, POLLIN, 0};
        if (poll(&p, 1, 50) > 0 && (p.revents & POLLIN)) {
            char b[4];
            const ssize_t n = read(master, b, 4 - word.size());
            if (n > 0)
                word.append(b, size_t(n));
        }
    }
    if (word.size() < 4) {
        *why = "no service word";
        return false;
    }
    return true;
}

enum class Tool { Ours, Sb };

Transfer RunTransfer(const Options& o, Tool tool, uint32_t baud, const std::string& dir, size_t payload)
{
    Transfer t;
    const std::string rx = dir + "/rx";
    RemoveTree(rx);
    mkdir(rx.c_str(), 0700);

    Pty pty;
    if (!pty.Open()) {
        t.why = "no pty";
        return t;
    }
    const int errFd = open((dir + "/sender.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t sender = -1;
    if (tool == Tool::Ours) {
        sender = Spawn({o.cli, "-p", pty.slave, "-b", std::to_string(baud), dir + "/img.dat"}, -1, -1, errFd);
    } else {
        const int slave = open(pty.slave.c_str(), O_RDWR | O_NOCTTY);
        sender = Spawn({"sb", "-k", "payload.bin"}, slave, slave, errFd, dir);
        close(slave);
    }
    close(errFd);
    if (tool == Tool::Ours && !BoxHandshake(pty.master, &t.why)) {
        WaitChild(sender, 0);
        return t;
    }

    int toRb[2], fromRb[2];
    if (pipe(toRb) != 0 || pipe(fromRb) != 0) {
        t.why = "no pipes";
        WaitChild(sender, 0);
        return t;
    }
    const pid_t rb = Spawn({"rb", "--ymodem"}, toRb[0], fromRb[1], -1, rx);
    close(toRb[0]);
    close(fromRb[1]);
    fcntl(toRb[1], F_SETFL, fcntl(toRb[1], F_GETFL) | O_NONBLOCK);

    RelayRun run(baud);
    const double lineSeconds = double(payload) * 10.0 / baud;
    RunRelay(&run, pty.master, toRb[1], fromRb[0], int(lineSeconds * 3000) + 60000);
    close(toRb[1]);
    close(fromRb[0]);
    const Ended rbEnd = WaitChild(rb, 10000);
    const Ended senderEnd = WaitChild(sender, 30000);

    const std::string want = ReadFileBytes(dir + "/payload.bin");
    std::string got = ReadFileBytes(rx + (tool == Tool::Ours ? "/VELTO" : "/payload.bin"));
    if (got.empty() && tool == Tool::Ours)
        got = ReadFileBytes(rx + "/velto");
    if (!run.error.empty())
        t.why = "relay: " + run.error;
    else if (run.FellBehind())
        t.why = "the relay fell behind the line: a byte " +
                std::to_string(std::max(run.toReceiver.MaxLateNs(), run.toSender.MaxLateNs()) / 1000) + " us late";
    else if (!rbEnd.ended || rbEnd.status != 0)
        t.why = "rb ended with " + std::to_string(rbEnd.status);
    else if (!senderEnd.ended || senderEnd.status != 0)
        t.why = "the sender ended with " + std::to_string(senderEnd.status);
    else if (got != want)
        t.why = "rb's file differs from the payload";
    if (!t.why.empty())
        return t;
    Analyse(run, baud, payload, &t);
    if (!t.why.empty())
        return t;
    t.cpuPerMiB = senderEnd.cpuSeconds / (double(payload) / 1048576.0);
    t.ok = true;
    return t;
}

// Runs `fn` until it succeeds, at most 1 + kRetries times; tells the failures.
template <class R>
std::optional<R> WithRetries(const char* label, const std::function<R()>& fn)
{
    for (int attempt = 0; attempt <= kRetries; ++attempt) {
        R r = fn();
        if (r.ok)
            return r;
        fprintf(stderr, "  %s: run failed (%s)%s\n", label, r.why.c_str(), attempt < kRetries ? ", again" : "");
    }
    return std::nullopt;
}

void Transfers(const Options& o)
{
    printf("Transfers into lrzsz rb through a paced 8N1 relay; median [min..max] of %d runs\n", o.runs);
    printf("efficiency: payload byte times over the time from block 0's first byte on the line to the last data "
           "block's ACK, less the relay's own late burst ends (YMODEM-1K limit with one ACK per block: 0.994); "
           "seconds: that time\n");
    printf("ACK turnaround: an ACK's last bit handed to the sender, to the sender's next block on the line; "
           "rb reply: a block's last bit handed to rb, to rb's ACK\n");
    printf("%-7s %-8s %-12s %-24s %-24s %-26s %-22s %s\n", "rate", "payload", "sender", "efficiency", "seconds",
           "ACK turnaround us", "CPU s/MiB", "rb reply us");
    for (const uint32_t baud : o.rates) {
        const size_t payload = baud <= 115200 ? 256 * 1024 : 2 * 1024 * 1024;
        const std::string dir = MakeTempDir();
        WriteFileBytes(dir + "/payload.bin", RandomBytes(payload, baud));
        const pid_t pack = Spawn({o.cli, "pack", "--version", "1.0", "--service-word", "00000000",
                                  dir + "/payload.bin", "-o", dir + "/img.dat"},
                                 -1, -1, -1);
        if (WaitChild(pack, 30000).status != 0) {
            fprintf(stderr, "wire_bench: cannot pack the image\n");
            RemoveTree(dir);
            continue;
        }
        Spread eff[2], secs[2], turn[2], cpu[2], rbReply[2], ratio;
        double worstLate = 0, worstShare = 0;
        for (int i = 0; i < o.runs; ++i) {
            std::optional<Transfer> r[2];
            for (int k = 0; k < 2; ++k) {
                const Tool tool = k == 0 ? Tool::Ours : Tool::Sb;
                r[k] = WithRetries<Transfer>(k == 0 ? "marbrix-cli" : "sb -k",
                                             [&] { return RunTransfer(o, tool, baud, dir, payload); });
                if (!r[k])
                    continue;
                eff[k].Add(r[k]->efficiency);
                secs[k].Add(r[k]->seconds);
                turn[k].Add(r[k]->turnaroundUs);
                cpu[k].Add(r[k]->cpuPerMiB);
                rbReply[k].Add(r[k]->receiverUs);
                worstLate = std::max(worstLate, r[k]->maxLateUs);
                worstShare = std::max(worstShare, r[k]->addedShare);
            }
            if (r[0] && r[1])
                ratio.Add(r[0]->seconds / r[1]->seconds);
        }
        for (int k = 0; k < 2; ++k)
            printf("%-7u %-8s %-12s %-24s %-24s %-26s %-22s %s\n", baud,
                   k == 0 ? (std::to_string(payload / 1024) + "KiB").c_str() : "", k == 0 ? "marbrix-cli" : "sb -k",
                   eff[k].Show("%.3f").c_str(), secs[k].Show("%.2f").c_str(), turn[k].Show("%.0f").c_str(),
                   cpu[k].Show("%.3f").c_str(), rbReply[k].Show("%.0f").c_str());
        printf("%-7u duration ratio marbrix-cli / sb -k: %s   (relay: worst byte %.0f us late, "
               "its own delays at most %.2f %% of a run, taken off)\n",
               baud, ratio.Show("%.3f").c_str(), worstLate, 100 * worstShare);
        fflush(stdout);
        RemoveTree(dir);
    }
}

// ---------------------------------------------------------------------------
// CPU of a served download: a silent box, and a box that chatters.

struct Usage {
    bool ok = false;
    std::string why;
    double percent = 0;  // of one core
};

// Starts the CLI on a served download over `pty`, its stdout to `out`.
pid_t StartServed(const Options& o, const Pty& pty, const std::string& dir, int out)
{
    WriteFileBytes(dir + "/app.sdl", RandomBytes(4096, 7));
    const pid_t pid = Spawn({o.cli, "-p", pty.slave, dir + "/app.sdl"}, -1, out, -1);
    // Let it open the port and settle into its wait.
    usleep(1500000);
    return pid;
}

Usage RunIdle(const Options& o, const std::string& dir)
{
    Usage u;
    Pty pty;
    if (!pty.Open()) {
        u.why = "no pty";
        return u;
    }
    const pid_t cli = StartServed(o, pty, dir, -1);
    const double c0 = CpuSecondsOf(cli);
    const int64_t t0 = MonoNs();
    usleep(useconds_t(o.idleSeconds) * 1000000);
    const double c1 = CpuSecondsOf(cli);
    const int64_t t1 = MonoNs();
    kill(cli, SIGTERM);
    WaitChild(cli, 10000);
    if (c0 < 0 || c1 < 0) {
        u.why = "the CLI ended early";
        return u;
    }
    u.percent = 100.0 * (c1 - c0) / (double(t1 - t0) / 1e9);
    u.ok = true;
    return u;
}

Usage RunChatter(const Options& o, const std::string& dir)
{
    Usage u;
    Pty pty;
    if (!pty.Open()) {
        u.why = "no pty";
        return u;
    }
    // The echo goes to a file, as it would to a log: a reader of our own
    // on a pipe would charge its wake-ups to the CLI.
    const std::string echoPath = dir + "/echo.out";
    const int echoFd = open(echoPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const pid_t cli = StartServed(o, pty, dir, echoFd);
    close(echoFd);

    // A box's log output: text lines, never a frame's start byte.
    const std::string lineText = "box: tuner 3 locked, snr 27.5 dB, ber 0.0000012, pid 0x1ff0 ok\r\n";
    std::string text;
    const size_t total = size_t(o.chatterRate / 10) * size_t(o.chatterSeconds);
    while (text.size() < total)
        text += lineText;
    text.resize(total);

    PacedLine line(o.chatterRate);
    const double c0 = CpuSecondsOf(cli);
    const int64_t t0 = MonoNs();
    line.Arrive(reinterpret_cast<const uint8_t*>(text.data()), text.size(), t0);
    while (!line.Empty() && !line.FellBehind()) {
        line.Deliver(pty.master, MonoNs());
        const int64_t waitNs = std::max<int64_t>(0, line.NextDue(MonoNs()) - MonoNs());
        timespec ts = {time_t(waitNs / 1000000000), long(waitNs % 1000000000)};
        nanosleep(&ts, nullptr);
    }
    const double c1 = CpuSecondsOf(cli);
    const int64_t t1 = MonoNs();
    // What the CLI still holds must come out soon after.
    const int64_t deadline = MonoNs() + 3000000000LL;
    struct stat st {};
    while ((stat(echoPath.c_str(), &st) != 0 || size_t(st.st_size) < total) && MonoNs() < deadline)
        usleep(20000);
    kill(cli, SIGTERM);
    WaitChild(cli, 10000);
    const std::string echoed = ReadFileBytes(echoPath);
    if (line.FellBehind())
        u.why = "the CLI did not keep up with the line (pty full)";
    else if (c0 < 0 || c1 < 0)
        u.why = "the CLI ended early";
    else if (echoed != text)
        u.why = "echoed " + std::to_string(echoed.size()) + " of " + std::to_string(total) + " bytes" +
                (echoed.size() == total ? ", not the same" : "");
    if (!u.why.empty())
        return u;
    u.percent = 100.0 * (c1 - c0) / (double(t1 - t0) / 1e9);
    u.ok = true;
    return u;
}

void CpuWhileServed(const Options& o, bool idle, bool chatter)
{
    const std::string dir = MakeTempDir();
    if (idle) {
        Spread s;
        for (int i = 0; i < o.runs; ++i)
            if (auto r = WithRetries<Usage>("idle", [&] { return RunIdle(o, dir); }))
                s.Add(r->percent);
        printf("CPU of a served download waiting on a silent box, %d s: %s %% of a core\n", o.idleSeconds,
               s.Show("%.2f").c_str());
        fflush(stdout);
    }
    if (chatter) {
        Spread s;
        for (int i = 0; i < o.runs; ++i)
            if (auto r = WithRetries<Usage>("chatter", [&] { return RunChatter(o, dir); }))
                s.Add(r->percent);
        printf("CPU of a served download echoing continuous chatter at %u bit/s, %d s: %s %% of a core\n",
               o.chatterRate, o.chatterSeconds, s.Show("%.1f").c_str());
        fflush(stdout);
    }
    RemoveTree(dir);
}

int UsageError(const char* why)
{
    fprintf(stderr,
            "wire_bench: %s\nusage: wire_bench --cli PATH [--runs N] [--rates R1,R2,...] "
            "[--only transfer|idle|chatter] [--idle-seconds N] [--chatter-seconds N]\n",
            why);
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (!v)
            return UsageError(("missing value for " + a).c_str());
        ++i;
        if (a == "--cli")
            o.cli = v;
        else if (a == "--runs")
            o.runs = std::max(1, atoi(v));
        else if (a == "--only")
            o.only = v;
        else if (a == "--idle-seconds")
            o.idleSeconds = std::max(1, atoi(v));
        else if (a == "--chatter-seconds")
            o.chatterSeconds = std::max(1, atoi(v));
        else if (a == "--rates") {
            o.rates.clear();
            for (const char* p = v; *p;) {
                o.rates.push_back(uint32_t(strtoul(p, const_cast<char**>(&p), 10)));
                if (*p == ',')
                    ++p;
                else if (*p)
                    return UsageError("--rates wants numbers separated by commas");
            }
        } else
            return UsageError(("unknown option " + a).c_str());
    }
    if (o.cli.empty() || access(o.cli.c_str(), X_OK) != 0)
        return UsageError("--cli must name the marbrix-cli binary");
    signal(SIGPIPE, SIG_IGN);
    // The relay must keep the line's time on a busy machine: it asks for a
    // real-time slot (it sleeps nearly all the time, so it takes little
    // from anyone). The programs it starts run at the normal policy.
    sched_param sp{};
    sp.sched_priority = 10;
    if (sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &sp) == 0)
        printf("relay: real-time scheduling (SCHED_FIFO 10); the programs measured run at the normal policy\n");
    else
        printf("relay: normal scheduling (%s); on a busy machine runs may fail as behind the line\n",
               strerror(errno));
    const bool all = o.only.empty();
    if (all || o.only == "transfer")
        Transfers(o);
    if (all || o.only == "idle" || o.only == "chatter")
        CpuWhileServed(o, all || o.only == "idle", all || o.only == "chatter");
    return 0;
}
