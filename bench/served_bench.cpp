// SPDX-License-Identifier: MIT
// Served downloads at line speed: marbrix-cli serving a file to stbsim,
// which asks for it chunk by chunk at a paced 8N1 rate (--pace), and the
// same box against a tiny server of our own that answers as fast as it
// can. The second row shows what the box itself allows: where both rows
// agree, the box is the limit; where the CLI's row is lower, the CLI is.
//
// efficiency: the payload's line time over the wall time from the box's
// first request to its last time reply (each stbsim line is stamped as it
// arrives; stbsim flushes every line). gap per exchange: that wall time
// less the line time of every byte both ways (requests, payload, time
// requests and replies), shared out over the exchanges: the line's idle
// time per request, an upper bound of the request turnaround. CPU s/MiB:
// the CLI's user + system seconds over the same stretch, per MiB.
//
// request turnaround: measured apart, with the bench in the middle of the
// line (stbsim's pty <-> the bench <-> a pty of the bench's that the CLI
// opens): from the moment the last byte of a data request is handed to the
// CLI's pty, to the moment the first byte of its answer is read back from
// it. Two pty hops and the bench's own wake-ups are inside the figure, as in
// wire_bench's ACK turnaround, so the two compare.
//
// Every figure is the median of --runs runs with min and max; a run whose
// box did not end in PASS (its copy identical to the file) is repeated up
// to twice and never counted. This prints figures; it asserts nothing.
//
// Usage: served_bench --cli PATH --sim PATH [--runs N] [--rates R,...]
//                     [--chunks C,...] [--time-every 0,8] [--turnaround 1|0] [--efficiency 1|0]
#include "bench_proc.h"
#include "time_reply.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <signal.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

using namespace bench;

namespace {

constexpr int kRetries = 2;

struct Options {
    std::string cli;
    std::string sim;
    int runs = 3;
    std::vector<uint32_t> rates = {115200, 460800, 921600};
    std::vector<uint32_t> chunks = {256, 4096, 65535};
    std::vector<uint32_t> timeEvery = {0, 8};
    bool turnaround = true;  // the relayed runs that measure it
    bool efficiency = true;  // the table of direct runs
};

struct Spread {
    std::vector<double> v;
    void Add(double x) { v.push_back(x); }
    std::string Show(const char* fmt) const
    {
        if (v.empty())
            return "failed";
        std::vector<double> s = v;
        std::sort(s.begin(), s.end());
        const size_t n = s.size();
        const double median = n % 2 ? s[n / 2] : (s[n / 2 - 1] + s[n / 2]) / 2;
        char a[32], b[32], c[32], out[128];
        snprintf(a, sizeof a, fmt, median);
        snprintf(b, sizeof b, fmt, s.front());
        snprintf(c, sizeof c, fmt, s.back());
        snprintf(out, sizeof out, "%s [%s..%s]", a, b, c);
        return out;
    }
};

enum class Server { Cli, Fast, CliRelayed };

struct Run {
    bool ok = false;
    double turnaroundUs = 0;  // median over the run's data requests (relayed runs)
    std::string why;
    double efficiency = 0;
    double gapUs = 0;
    double cpuPerMiB = 0;
};

// ---------------------------------------------------------------------------
// The fast server: answers each frame of the box the moment it is complete.

class FastServer {
public:
    FastServer(int fd, const std::string& file) : m_fd(fd), m_file(file) {}

    // Reads what the box sent and answers every whole frame; false when
    // the line failed.
    bool Serve()
    {
        uint8_t buf[4096];
        for (;;) {
            const ssize_t n = read(m_fd, buf, sizeof buf);
            if (n <= 0)
                return n == 0 || errno == EAGAIN || errno == EINTR;
            m_in.insert(m_in.end(), buf, buf + n);
            while (Answer()) {
            }
        }
    }

private:
    // One whole frame at the front answered and dropped; false when none.
    bool Answer()
    {
        const auto stx = std::find(m_in.begin(), m_in.end(), uint8_t(0x02));
        m_in.erase(m_in.begin(), stx);
        if (m_in.size() < 3)
            return false;
        const uint8_t code = m_in[1];
        const size_t length = code == 0x02 ? 9 : 3;
        if (m_in.size() < length)
            return false;
        if (code == 0x01) {
            Send({0x02, 0x01, 0x0A, 0x03});
        } else if (code == 0x02) {
            const uint32_t len = m_in[2] | (m_in[3] << 8);
            const uint32_t off = m_in[4] | (m_in[5] << 8) | (m_in[6] << 16) | (uint32_t(m_in[7]) << 24);
            if (off < m_file.size()) {
                const size_t n = std::min<size_t>(len, m_file.size() - off);
                Send(std::vector<uint8_t>(m_file.begin() + off, m_file.begin() + off + n));
            }
        } else if (code == 0x03) {
            const time_t now = time(nullptr);
            struct tm utc {};
            gmtime_r(&now, &utc);
            std::vector<uint8_t> reply = {0x02, 0x03, 0, 0, 0, 0, 0, 0x03};
            BuildTimeReply(&utc, reply.data() + 2);
            Send(reply);
        }
        m_in.erase(m_in.begin(), m_in.begin() + length);
        return true;
    }

    void Send(const std::vector<uint8_t>& bytes)
    {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(m_fd, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += size_t(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return;
            pollfd p = {m_fd, POLLOUT, 0};
            poll(&p, 1, 100);
        }
    }

    int m_fd;
    const std::string& m_file;
    std::vector<uint8_t> m_in;
};

// ---------------------------------------------------------------------------
// The bench in the middle of the line, stamping each data request's last byte
// as it is handed to the CLI and the first byte of the answer read back.

class Relay {
public:
    Relay(int boxFd, int cliMaster) : m_box(boxFd), m_cli(cliMaster) {}

    // Moves what is waiting each way; false once the box's side failed.
    bool Pump(short boxEvents, short cliEvents)
    {
        uint8_t buf[4096];
        if (cliEvents & POLLIN) {
            const ssize_t n = read(m_cli, buf, sizeof buf);
            if (n > 0) {
                if (m_requestAt >= 0) {
                    m_turnarounds.push_back(double(MonoNs() - m_requestAt) / 1000.0);
                    m_requestAt = -1;
                }
                WriteAll(m_box, buf, size_t(n));
            }
        }
        // Until the CLI has its side open the pty hangs up; the box's bytes
        // wait in stbsim's pty meanwhile.
        if ((boxEvents & POLLIN) && !(cliEvents & POLLHUP)) {
            const ssize_t n = read(m_box, buf, sizeof buf);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
                return false;
            if (n > 0) {
                WriteAll(m_cli, buf, size_t(n));
                if (EndsADataRequest(buf, size_t(n)))
                    m_requestAt = MonoNs();
            }
        }
        return true;
    }

    double MedianTurnaroundUs() const
    {
        if (m_turnarounds.empty())
            return 0;
        std::vector<double> s = m_turnarounds;
        std::nth_element(s.begin(), s.begin() + s.size() / 2, s.end());
        return s[s.size() / 2];
    }

private:
    // Follows the box's frames (STX, code, ..., ETX: 9 bytes for a data
    // request, 3 for the others); true when these bytes end a data request.
    bool EndsADataRequest(const uint8_t* data, size_t count)
    {
        bool ended = false;
        for (size_t i = 0; i < count; ++i) {
            if (m_frame.empty() && data[i] != 0x02)
                continue;
            m_frame.push_back(data[i]);
            const size_t length = m_frame.size() >= 2 && m_frame[1] == 0x02 ? 9 : 3;
            if (m_frame.size() >= 2 && m_frame.size() == length) {
                ended = m_frame[1] == 0x02 && i + 1 == count;
                m_frame.clear();
            }
        }
        return ended;
    }

    static void WriteAll(int fd, const uint8_t* data, size_t count)
    {
        size_t done = 0;
        while (done < count) {
            const ssize_t n = write(fd, data + done, count - done);
            if (n > 0) {
                done += size_t(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return;
            pollfd p = {fd, POLLOUT, 0};
            poll(&p, 1, 100);
        }
    }

    int m_box;
    int m_cli;
    std::vector<uint8_t> m_frame;
    int64_t m_requestAt = -1;
    std::vector<double> m_turnarounds;
};

int OpenRaw(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    termios t{};
    if (tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
    }
    return fd;
}

// ---------------------------------------------------------------------------

Run RunServed(const Options& o, uint32_t baud, uint32_t chunk, uint32_t timeEvery, Server kind,
              const std::string& dir, const std::string& file)
{
    const bool fast = kind == Server::Fast;
    Run r;
    const std::string path = dir + "/app.sdl";
    int out[2];
    if (pipe(out) != 0) {
        r.why = "no pipe";
        return r;
    }
    const pid_t sim =
        Spawn({o.sim, "--mode", "served", "--expect", path, "--chunk", std::to_string(chunk), "--time-every",
               std::to_string(timeEvery), "--pace", std::to_string(baud), "--timeout", "600"},
              -1, out[1], -1);
    close(out[1]);

    pid_t cli = -1;
    int serverFd = -1;
    std::optional<FastServer> server;
    std::optional<Relay> relay;
    double turnaroundUs = 0;
    Pty cliPty;
    if (kind == Server::CliRelayed && !cliPty.Open()) {
        r.why = "no pty for the relay";
        return r;
    }
    std::string text;
    int64_t start = -1, lastReply = -1;
    double cpuStart = 0, cpuEnd = 0;
    bool passed = false, ended = false;
    const int64_t deadline = MonoNs() + 600 * 1000000000LL;
    while (!ended && MonoNs() < deadline) {
        pollfd p[3] = {{out[0], POLLIN, 0},
                       {server || relay ? serverFd : -1, POLLIN, 0},
                       {relay ? cliPty.master : -1, POLLIN, 0}};
        if (poll(p, 3, 100) < 0 && errno != EINTR)
            break;
        const int64_t now = MonoNs();
        if (server && (p[1].revents & POLLIN))
            server->Serve();
        if (relay) {
            // A hung-up pty (the CLI not there yet) polls ready at once:
            // look again in a millisecond rather than spin.
            if ((p[2].revents & POLLHUP) && !(p[2].revents & POLLIN))
                poll(nullptr, 0, 1);
            // The box's side ends when stbsim does, just after it prints
            // its verdict: that is read from its output below.
            if (!relay->Pump(p[1].revents, p[2].revents)) {
                turnaroundUs = relay->MedianTurnaroundUs();
                relay.reset();
            }
        }
        if (!(p[0].revents & (POLLIN | POLLHUP)))
            continue;
        char buf[4096];
        const ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0) {
            ended = true;
            break;
        }
        text.append(buf, size_t(n));
        for (size_t eol; (eol = text.find('\n')) != std::string::npos; text.erase(0, eol + 1)) {
            const std::string line = text.substr(0, eol);
            if (line.rfind("stbsim: pty ", 0) == 0) {
                const std::string slave = line.substr(12);
                if (fast) {
                    serverFd = OpenRaw(slave);
                    server.emplace(serverFd, file);
                } else if (kind == Server::CliRelayed) {
                    serverFd = OpenRaw(slave);
                    relay.emplace(serverFd, cliPty.master);
                    cli = Spawn({o.cli, "-p", cliPty.slave, "-b", std::to_string(baud), path}, -1, -1, -1);
                } else {
                    cli = Spawn({o.cli, "-p", slave, "-b", std::to_string(baud), path}, -1, -1, -1);
                }
            } else if (line.find("handshake answered") != std::string::npos) {
                start = now;
                cpuStart = cli > 0 ? CpuSecondsOf(cli) : 0;
            } else if (line.rfind("stbsim: time reply", 0) == 0) {
                lastReply = now;
                cpuEnd = cli > 0 ? CpuSecondsOf(cli) : 0;
            } else if (line.rfind("stbsim: PASS", 0) == 0) {
                passed = true;
            } else if (line.rfind("stbsim: FAIL", 0) == 0) {
                r.why = line;
            }
        }
    }
    close(out[0]);
    if (cli > 0) {
        kill(cli, SIGTERM);
        WaitChild(cli, 10000);
    }
    const Ended simEnd = WaitChild(sim, 10000);
    if (serverFd >= 0)
        close(serverFd);
    if (!passed || simEnd.status != 0) {
        if (r.why.empty())
            r.why = "the box did not pass";
        return r;
    }
    if (start < 0 || lastReply <= start) {
        r.why = "no request or time reply seen";
        return r;
    }
    const double payload = double(file.size());
    const double seconds = double(lastReply - start) / 1e9;
    const double byteSeconds = 10.0 / baud;
    const double requests = std::ceil(payload / chunk);
    const double timeRequests = (timeEvery ? std::floor(requests / timeEvery) : 0) + 1;
    // Requests are 9 bytes, time requests 3, time replies 8.
    const double lineSeconds = (payload + 9 * requests + 11 * timeRequests) * byteSeconds;
    r.efficiency = payload * byteSeconds / seconds;
    r.gapUs = (seconds - lineSeconds) / (requests + timeRequests) * 1e6;
    r.cpuPerMiB = cli > 0 ? (cpuEnd - cpuStart) / (payload / 1048576.0) : 0;
    r.turnaroundUs = relay ? relay->MedianTurnaroundUs() : turnaroundUs;
    r.ok = true;
    return r;
}

std::vector<uint32_t> Numbers(const char* v)
{
    std::vector<uint32_t> out;
    for (const char* p = v; *p;) {
        char* end = nullptr;
        out.push_back(uint32_t(strtoul(p, &end, 10)));
        p = *end == ',' ? end + 1 : end;
        if (end == p && *p)
            break;
    }
    return out;
}

double LoadAverage()
{
    double load = -1;
    if (FILE* f = fopen("/proc/loadavg", "r")) {
        if (fscanf(f, "%lf", &load) != 1)
            load = -1;
        fclose(f);
    }
    return load;
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        const char* v = argv[i + 1];
        if (a == "--cli")
            o.cli = v;
        else if (a == "--sim")
            o.sim = v;
        else if (a == "--runs")
            o.runs = std::max(1, atoi(v));
        else if (a == "--rates")
            o.rates = Numbers(v);
        else if (a == "--chunks")
            o.chunks = Numbers(v);
        else if (a == "--time-every")
            o.timeEvery = Numbers(v);
        else if (a == "--turnaround")
            o.turnaround = atoi(v) != 0;
        else if (a == "--efficiency")
            o.efficiency = atoi(v) != 0;
        else {
            fprintf(stderr, "served_bench: unknown option %s\n", a.c_str());
            return 1;
        }
    }
    if (o.cli.empty() || o.sim.empty() || access(o.cli.c_str(), X_OK) != 0 || access(o.sim.c_str(), X_OK) != 0) {
        fprintf(stderr, "usage: served_bench --cli PATH --sim PATH [--runs N] [--rates R,...] [--chunks C,...] "
                        "[--time-every 0,8] [--turnaround 1|0] [--efficiency 1|0]\n");
        return 1;
    }
    signal(SIGPIPE, SIG_IGN);
    printf("Served downloads into stbsim --pace RATE; median [min..max] of %d runs; load average at start %.2f\n",
           o.runs, LoadAverage());
    printf("server: marbrix-cli, or the bench's own server that answers at once (the box's own limit)\n");
    printf("%-7s %-7s %-6s %-6s %-12s %-24s %-24s %s\n", "rate", "payload", "chunk", "time", "server", "efficiency",
           "gap per exchange us", "CPU s/MiB");
    std::vector<std::string> turnLines;
    for (const uint32_t baud : o.rates) {
        const size_t payload = baud <= 115200 ? 256 * 1024 : 1024 * 1024;
        const std::string dir = MakeTempDir();
        const std::string file = RandomBytes(payload, baud);
        WriteFileBytes(dir + "/app.sdl", file);
        for (const uint32_t chunk : o.efficiency ? o.chunks : std::vector<uint32_t>{}) {
            for (const uint32_t every : o.timeEvery) {
                for (const Server kind : {Server::Cli, Server::Fast}) {
                    const bool fast = kind == Server::Fast;
                    Spread eff, gap, cpu;
                    for (int i = 0; i < o.runs; ++i) {
                        for (int attempt = 0; attempt <= kRetries; ++attempt) {
                            const Run r = RunServed(o, baud, chunk, every, kind, dir, file);
                            if (r.ok) {
                                eff.Add(r.efficiency);
                                gap.Add(r.gapUs);
                                cpu.Add(r.cpuPerMiB);
                                break;
                            }
                            fprintf(stderr, "  run failed (%s)%s\n", r.why.c_str(),
                                    attempt < kRetries ? ", again" : "");
                        }
                    }
                    printf("%-7u %-7s %-6u %-6s %-12s %-24s %-24s %s\n", baud,
                           (std::to_string(payload / 1024) + "KiB").c_str(), chunk,
                           every ? ("/" + std::to_string(every)).c_str() : "off",
                           fast ? "fast server" : "marbrix-cli", eff.Show("%.3f").c_str(), gap.Show("%.0f").c_str(),
                           fast ? "-" : cpu.Show("%.3f").c_str());
                    fflush(stdout);
                }
            }
        }
        if (o.turnaround) {
            for (const uint32_t chunk : o.chunks) {
                Spread turn;
                for (int i = 0; i < o.runs; ++i) {
                    for (int attempt = 0; attempt <= kRetries; ++attempt) {
                        const Run r = RunServed(o, baud, chunk, 0, Server::CliRelayed, dir, file);
                        if (r.ok && r.turnaroundUs > 0) {
                            turn.Add(r.turnaroundUs);
                            break;
                        }
                        fprintf(stderr, "  relayed run failed (%s)%s\n", r.ok ? "no request seen" : r.why.c_str(),
                                attempt < kRetries ? ", again" : "");
                    }
                }
                char line[160];
                snprintf(line, sizeof line, "%-7u %-6u %s", baud, chunk, turn.Show("%.0f").c_str());
                turnLines.push_back(line);
            }
        }
        RemoveTree(dir);
    }
    if (!turnLines.empty()) {
        printf("\nRequest turnaround, us (a data request's last byte handed to the CLI's pty, to the first byte of "
               "its answer read back; median per run, then median [min..max] of the runs):\n");
        printf("%-7s %-6s %s\n", "rate", "chunk", "turnaround us");
        for (const std::string& l : turnLines)
            printf("%s\n", l.c_str());
    }
    printf("load average at the end %.2f\n", LoadAverage());
    return 0;
}
