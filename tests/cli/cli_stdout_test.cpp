// SPDX-License-Identifier: MIT
// Standard output never holds up a download: --json starts without reading
// the download file first, and a reader that stops reading (one port, or
// the production line's parent) costs commentary events, never the
// handshake, the transfer or the record of them.
#include "line_support.h"

#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <regex>
#include <sstream>
#include <unistd.h>

namespace {

using Event = std::map<std::string, std::string>;

// Every line of stdout as a strict JSON object, in order.
std::vector<Event> Events(const std::string& out)
{
    std::vector<Event> events;
    for (const std::string& line : Lines(out)) {
        Event e;
        EXPECT_TRUE(JsonCheck::Object(line, &e)) << "not a JSON object: " << line;
        events.push_back(e);
    }
    return events;
}

// Everything until the writer's end closes the pipe (bounded).
std::string ReadToEnd(int fd, int limitMs)
{
    std::string got;
    for (int waited = 0; waited < limitMs;) {
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) {
            waited += 100;
            continue;
        }
        char buf[65536];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        got.append(buf, size_t(n));
    }
    return got;
}

std::string Sha256Sum(const std::string& path)
{
    std::string out, err;
    RunCommand({"/usr/bin/env", "sha256sum", path}, &out, &err);
    return out.substr(0, 64);
}

// The log lines a port's stderr shows, as the texts its "log" events carry:
// one port shows "HH:MM:SS  text", the production line "[PORT] HH:MM:SS  text"
// (and its own "Result: ..." line, which is no event).
std::vector<std::string> StderrLogTexts(const std::string& err, const std::string& prefix)
{
    std::vector<std::string> texts;
    for (std::string l : Lines(err)) {
        if (l.compare(0, prefix.size(), prefix) != 0 || l.size() < prefix.size() + 10)
            continue;
        l = l.substr(prefix.size() + 10);
        while (!l.empty() && l.back() == '\r')
            l.pop_back();
        if (!prefix.empty() && l.compare(0, 8, "Result: ") == 0)
            continue;
        texts.push_back(l);
    }
    return texts;
}

// Nobody reads stdout until the boxes have their image: a stalled `| less`,
// a controller that hangs. Each box gets about 1.2 MB of console chatter
// before its frames, several times what the writer holds, as "box-output".
class StalledReader : public ::testing::TestWithParam<int> {};

TEST_P(StalledReader, DownloadsCompleteAndTheRecordIsWhole)
{
    const int ports = GetParam();
    TempDir dir;
    const std::string payload = RandomBytes(20 * 1024 + 5, 31);
    ASSERT_TRUE(WriteFile(dir / "img.dat", MakeImage(payload)));
    std::vector<Child> sims(static_cast<size_t>(ports));
    std::vector<std::string> argv = {kCli, "--json"};
    for (int i = 0; i < ports; ++i) {
        const std::string port = dir / ("box" + std::to_string(i));
        ASSERT_TRUE(StartBox(&sims[size_t(i)], dir / "img.dat", port, {"--junk-before-stx", "600000"}))
            << sims[size_t(i)].err;
        argv.insert(argv.end(), {"-p", port});
    }
    argv.push_back(dir / "img.dat");
    int out[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    Child cli;
    SpawnOptions o;
    o.stdoutFd = out[1];
    ASSERT_TRUE(cli.Spawn(argv, o));
    close(out[1]);

    // The boxes are answered and flashed while stdout stays unread.
    for (Child& sim : sims) {
        auto rc = sim.Wait(90000);
        ASSERT_TRUE(rc.has_value()) << "stbsim did not finish while stdout was not read\n" << sim.out << sim.err;
        ASSERT_EQ(*rc, 0) << sim.out << sim.err;
    }
    // The reader comes back: everything kept is there, then the end.
    const std::string got = ReadToEnd(out[0], 60000);
    close(out[0]);
    auto rc = cli.Wait(30000);
    ASSERT_TRUE(rc.has_value()) << cli.err;
    EXPECT_EQ(*rc, kExitSent) << cli.err;
    ASSERT_FALSE(got.empty());
    ASSERT_EQ(got.back(), '\n');

    std::vector<Event> events = Events(got);
    unsigned long long dropped = 0;
    if (ports > 1) {
        // The parent's own last word: how many of its children's events it
        // had to leave out.
        ASSERT_EQ(events.back()["event"], "dropped") << got.substr(got.size() - std::min<size_t>(got.size(), 400));
        dropped = strtoull(events.back()["events"].c_str(), nullptr, 10);
        events.pop_back();
    }
    std::map<std::string, std::vector<Event>> byPort;
    for (Event& e : events)
        byPort[e["port"]].push_back(e);
    ASSERT_EQ(byPort.size(), size_t(ports));
    for (int i = 0; i < ports; ++i) {
        const std::string port = dir / ("box" + std::to_string(i));
        SCOPED_TRACE(port);
        const std::vector<Event>& mine = byPort[port];
        ASSERT_FALSE(mine.empty());
        std::vector<std::string> logs;
        const Event* start = nullptr;
        for (const Event& e : mine) {
            if (e.at("event") == "log")
                logs.push_back(e.at("text"));
            if (e.at("event") == "start" && !start)
                start = &e;
        }
        ASSERT_NE(start, nullptr);
        EXPECT_EQ(start->at("sha256"), SimSha(sims[size_t(i)]));
        EXPECT_EQ(start->at("size"), std::to_string(Padded(payload).size()));
        const Event& result = mine.back();
        EXPECT_EQ(result.at("event"), "result");
        EXPECT_EQ(result.at("ok"), "true");
        if (ports == 1)
            dropped = strtoull(result.at("dropped").c_str(), nullptr, 10);
        // Every log line the port wrote on stderr came as an event, in order.
        std::vector<std::string> shown = StderrLogTexts(cli.err, ports > 1 ? "[" + port + "] " : "");
        if (ports == 1) {
            ASSERT_FALSE(shown.empty());
            EXPECT_NE(shown.back().find(" events were dropped: standard output did not take them."),
                      std::string::npos)
                << cli.err;
            shown.pop_back();
        }
        EXPECT_EQ(logs, shown) << cli.err;
        EXPECT_NE(std::find(logs.begin(), logs.end(), "Velto file send OK!"), logs.end());
    }
    EXPECT_GT(dropped, 0u) << "the chatter should have overrun the writer";
    EXPECT_NE(cli.err.find(std::to_string(dropped) + " events were dropped: standard output did not take them."),
              std::string::npos)
        << cli.err;
}

INSTANTIATE_TEST_SUITE_P(Cli, StalledReader, ::testing::Values(1, 2),
                         [](const auto& info) { return info.param == 1 ? "OnePort" : "TwoPortLine"; });

// "start" and the end, with no box on the line: nothing reads the download
// file before the download, so an endless device cannot hold it up.
struct StartCase {
    const char* name;
    bool json;
    const char* file;  // a path, or a name created in the test's folder
    const char* kind;  // --image or --served
    const char* stop;  // "timeout", "sigterm" or "" (ends by itself)
    int exitCode;
    bool start;  // a "start" event comes
    const char* reason;
};

void PrintTo(const StartCase& c, std::ostream* os)
{
    *os << c.name;
}

class StartWithoutReading : public ::testing::TestWithParam<StartCase> {};

TEST_P(StartWithoutReading, StartsAtOnceAndEnds)
{
    const StartCase& c = GetParam();
    TempDir dir;
    std::string file = c.file;
    std::string content;
    if (file[0] != '/') {
        // An image of 3000 payload bytes, or a small served file.
        content = std::string(c.kind) == "--image" ? MakeImage(RandomBytes(3000, 5)) : "served!";
        file = dir / c.file;
        ASSERT_TRUE(WriteFile(file, content));
    }
    Pty line;
    ASSERT_TRUE(line.Open());
    std::vector<std::string> argv = {kCli, "-p", line.slavePath, c.kind};
    if (c.json)
        argv.push_back("--json");
    if (std::string(c.stop) == "timeout")
        argv.insert(argv.end(), {"--timeout", "0.5"});
    argv.push_back(file);
    Child cli;
    ASSERT_TRUE(cli.Spawn(argv));
    if (std::string(c.stop) == "sigterm") {
        ASSERT_TRUE(cli.WaitForOutput(false, "\"event\":\"start\"", 15000)) << cli.err;
        cli.Signal(SIGTERM);
    }
    auto rc = cli.Wait(15000);
    ASSERT_TRUE(rc.has_value()) << "did not end\n" << cli.err;
    EXPECT_EQ(*rc, c.exitCode) << cli.err;
    if (c.exitCode == kExitRejected) {
        EXPECT_NE(cli.err.find("BadFile Type! Abort Download"), std::string::npos) << cli.err;
    }
    if (!c.json) {
        EXPECT_EQ(cli.out, "");
        return;
    }
    std::vector<Event> events = Events(cli.out);
    ASSERT_FALSE(events.empty());
    const Event* start = nullptr;
    for (const Event& e : events)
        if (e.at("event") == "start")
            start = &e;
    EXPECT_EQ(start != nullptr, c.start) << cli.out;
    const Event& result = events.back();
    EXPECT_EQ(result.at("event"), "result") << cli.out;
    EXPECT_EQ(result.at("reason"), c.reason);
    EXPECT_EQ(result.at("exit_code"), std::to_string(c.exitCode));
    if (!start)
        return;
    EXPECT_EQ(start->at("file"), file);
    // The file's name as it is, UTF-8 on the wire.
    EXPECT_NE(cli.out.find("\"file\":\"" + file + "\""), std::string::npos) << cli.out;
    if (std::string(c.kind) == "--served") {
        EXPECT_EQ(start->count("sha256"), 0u) << "a served file is not read for a digest";
        EXPECT_EQ(start->count("size"), content.empty() ? 0u : 1u) << "a device has no size";
        if (!content.empty()) {
            EXPECT_EQ(start->at("size"), std::to_string(content.size()));
        }
    } else {
        // The padded image as the engine holds it.
        const std::string padded = Padded(content.substr(15));
        ASSERT_TRUE(WriteFile(dir / "padded.bin", padded));
        EXPECT_EQ(start->at("size"), std::to_string(padded.size()));
        EXPECT_EQ(start->at("sha256"), Sha256Sum(dir / "padded.bin"));
        EXPECT_EQ(result.at("sha256"), start->at("sha256"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cli, StartWithoutReading,
    ::testing::Values(
        StartCase{"ZeroAsImage", false, "/dev/zero", "--image", "", kExitRejected, false, ""},
        StartCase{"ZeroAsImageJson", true, "/dev/zero", "--image", "", kExitRejected, false, "rejected"},
        StartCase{"ZeroServedTimeout", true, "/dev/zero", "--served", "timeout", kExitSent, true, "stopped"},
        StartCase{"ZeroServedSigterm", true, "/dev/zero", "--served", "sigterm", kExitSent, true, "stopped"},
        StartCase{"ChineseNameServed", true, "\xE5\x9B\xBA\xE4\xBB\xB6.sdl", "--served", "timeout", kExitSent, true,
                  "stopped"},
        StartCase{"ImageWithoutABox", true, "fw.dat", "--image", "timeout", kExitIncomplete, true, "incomplete"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
