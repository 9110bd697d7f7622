// SPDX-License-Identifier: MIT
// The controller against stand-in download processes: a shell script that
// writes a canned event stream (the file named as its port) and exits with
// a given code. What the front end hears, and in which order.
#include "exit_codes.h"
#include "host_support.h"
#include "station_controller.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

namespace {

// argv: SCRIPT -p PORT -b BAUD ...: the port is the file of events; PORT.exit
// the exit code; PORT.sleep, when there, how long to wait after the events.
const char kStandIn[] = R"sh(#!/bin/sh
cat "$2"
[ -f "$2.sleep" ] && exec sleep "$(cat "$2.sleep")"
exit "$(cat "$2.exit")"
)sh";

struct Recorder : StationObserver {
    std::vector<std::string> heard;  // what each call said, in order
    std::vector<RunEnd> ends;
    std::vector<BoxRecord> records;
    void ChildEvent(const Lane& lane, const std::string& line) override
    {
        heard.push_back(lane.port + " event " + line);
    }
    void LaneLog(const Lane& lane, const std::string& level, const std::string& text) override
    {
        heard.push_back(lane.port + " log " + level + " " + text);
    }
    void BoxOutput(const Lane& lane, const std::vector<std::string>& lines) override
    {
        for (const std::string& line : lines)
            heard.push_back(lane.port + " box " + line);
    }
    void LaneNoticed(const Lane& lane, LaneNotice notice, const std::string&) override
    {
        heard.push_back(lane.port + " notice " + std::to_string(int(notice)));
    }
    void BoxRecorded(const Lane& lane, const BoxRecord& record) override
    {
        heard.push_back(lane.port + " record " + std::to_string(record.box));
        records.push_back(record);
    }
    void RunEnded(const Lane& lane, const RunEnd& end) override
    {
        heard.push_back(lane.port + " ended " + end.verdict.reason);
        ends.push_back(end);
    }
    void LaneChanged(const Lane&) override {}
    bool Heard(const std::string& what) const
    {
        for (const std::string& h : heard)
            if (h == what)
                return true;
        return false;
    }
};

class ControllerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = host::MakeTempDir();
        m_script = m_dir + "/stand-in.sh";
        ASSERT_TRUE(host::WriteFile(m_script, kStandIn));
        std::filesystem::permissions(m_script, std::filesystem::perms::owner_all);
    }
    void TearDown() override { host::RemoveTree(m_dir); }

    // A port whose download writes `events` and exits with exitCode.
    std::string Port(const std::string& name, const std::string& events, int exitCode, int sleepSec = 0)
    {
        const std::string port = m_dir + "/" + name;
        EXPECT_TRUE(host::WriteFile(port, events));
        EXPECT_TRUE(host::WriteFile(port + ".exit", std::to_string(exitCode)));
        if (sleepSec > 0) {
            EXPECT_TRUE(host::WriteFile(port + ".sleep", std::to_string(sleepSec)));
        }
        return port;
    }
    StationConfig Config(const std::vector<std::string>& ports, bool loop)
    {
        StationConfig config;
        config.ports = ports;
        config.job.executable = m_script;
        config.job.file = "fw.dat";
        config.job.baud = 115200;
        config.job.loop = loop;
        return config;
    }
    // Steps until the controller ends or `until` holds (then stops it and
    // steps to the end); false when that took far too long.
    template <typename Until>
    bool Drive(StationController& station, Until until)
    {
        for (int i = 0; i < 1000; ++i) {
            if (!station.Stopping() && until())
                station.Stop();
            if (!station.Step(20))
                return true;
        }
        return false;
    }

    std::string m_dir, m_script;
};

const char kStart[] = R"({"event":"start","size":4096})";
const char kBoxHeard[] = R"({"event":"stage","stage":"box"})";
const char kTransfer[] = R"({"event":"stage","stage":"transfer"})";

TEST_F(ControllerTest, OneDownloadPerPortReportsEveryLineAndEndsAlone)
{
    const std::string good = Port("good",
                                  std::string(kStart) + "\n" +
                                      R"({"event":"box-output","data":"STB boot\r\nhalf a li"})"
                                      "\n"
                                      "no event at all\n" +
                                      kBoxHeard + "\n" + kTransfer + "\n" +
                                      R"({"event":"box-output","data":"ne\r\n"})"
                                      "\n" +
                                      R"({"event":"log","level":"done","text":"Velto file send OK!"})"
                                      "\n"
                                      R"({"event":"box-output","data":"bye"})"
                                      "\n"
                                      R"({"event":"result","ok":true})"
                                      "\n",
                                  EXIT_SENT);
    // Killed, its last line cut short: no result event.
    const std::string cut = Port("cut", std::string(kStart) + "\n" + kBoxHeard + "\n{\"event\":\"prog", 137);
    Recorder heard;
    StationController station(Config({good, cut}, false), heard);
    ASSERT_TRUE(Drive(station, [] { return false; }));

    // The good port's stream, in its order, every line passed on as written.
    std::vector<std::string> goodHeard;
    for (const std::string& h : heard.heard)
        if (h.compare(0, good.size() + 1, good + " ") == 0)
            goodHeard.push_back(h.substr(good.size() + 1));
    const std::vector<std::string> expected = {
        std::string("event ") + kStart,
        R"(event {"event":"box-output","data":"STB boot\r\nhalf a li"})",
        "box STB boot\r\n",
        "event no event at all",
        std::string("event ") + kBoxHeard,
        std::string("event ") + kTransfer,
        R"(event {"event":"box-output","data":"ne\r\n"})",
        "box half a line\r\n",  // whole once its break came
        R"(event {"event":"log","level":"done","text":"Velto file send OK!"})",
        "log done Velto file send OK!",
        R"(event {"event":"box-output","data":"bye"})",
        R"(event {"event":"result","ok":true})",
        "box bye\n",  // the rest, a line of its own when the run ended
        "ended sent",
    };
    EXPECT_EQ(goodHeard, expected);

    EXPECT_TRUE(heard.Heard(cut + " event {\"event\":\"prog"));
    EXPECT_TRUE(heard.Heard(cut + " ended ended abnormally"));
    const std::vector<Lane>& lanes = station.Lanes();
    ASSERT_EQ(lanes.size(), 2u);
    EXPECT_TRUE(lanes[0].lastOk);
    EXPECT_EQ(lanes[0].lastExit, EXIT_SENT);
    EXPECT_EQ(lanes[0].lastBytes, 4096u);
    EXPECT_FALSE(lanes[1].lastOk);
    EXPECT_EQ(lanes[1].lastExit, 137);
    EXPECT_EQ(SumLanes(lanes, station.Mode()).failedPorts, std::vector<std::string>{cut});
}

TEST_F(ControllerTest, StationModeCountsBoxesUntilStopped)
{
    const std::string port = Port("box",
                                  std::string(kStart) + "\n" + kBoxHeard + "\n" + kTransfer + "\n" +
                                      R"({"event":"result","ok":true})"
                                      "\n",
                                  EXIT_SENT);
    Recorder heard;
    StationController station(Config({port}, true), heard);
    ASSERT_TRUE(Drive(station, [&] { return station.Lanes()[0].boxes >= 2; }));
    const Lane& lane = station.Lanes()[0];
    EXPECT_EQ(lane.passed, 2);
    EXPECT_EQ(lane.failed, 0);
    ASSERT_EQ(heard.ends.size(), 2u);
    EXPECT_EQ(heard.ends[1].verdict.kind, RunKind::Passed);
    EXPECT_FALSE(lane.running);
}

TEST_F(ControllerTest, TimeLimitStopsTheBoxThatTakesTooLong)
{
    const std::string port = Port("slow", std::string(kStart) + "\n" + kBoxHeard + "\n", EXIT_SENT, 30);
    Recorder heard;
    StationConfig config = Config({port}, true);
    config.job.timeoutSec = 0.3;
    StationController station(std::move(config), heard);
    ASSERT_TRUE(Drive(station, [&] { return !heard.ends.empty(); }));
    EXPECT_TRUE(heard.Heard(port + " notice " + std::to_string(int(LaneNotice::TimeLimitReached))));
    ASSERT_EQ(heard.ends.size(), 1u);
    // Asked to stop, the stand-in ends by the signal without its result: a
    // box that was there and failed.
    EXPECT_EQ(heard.ends[0].verdict.kind, RunKind::Failed);
    EXPECT_EQ(station.Lanes()[0].failed, 1);
}

TEST_F(ControllerTest, AProcessThatCannotStartEndsItsLane)
{
    Recorder heard;
    StationConfig config = Config({"p"}, true);
    config.job.executable = m_dir + "/no-such-program";
    StationController station(std::move(config), heard);
    ASSERT_TRUE(Drive(station, [] { return false; }));
    EXPECT_TRUE(heard.Heard("p notice " + std::to_string(int(LaneNotice::SpawnFailed))));
    EXPECT_TRUE(station.Lanes()[0].fatal);
    EXPECT_EQ(station.Lanes()[0].lastExit, EXIT_INCOMPLETE);
}

TEST_F(ControllerTest, EveryCountedBoxIsRecordedBeforeItsEnd)
{
    const std::string sha = std::string(64, 'a');
    const std::string port =
        Port("box",
             R"({"event":"start","size":4096,"sha256":")" + sha + "\"}\n" + kBoxHeard + "\n" + kTransfer + "\n" +
                 R"({"event":"result","ok":true})"
                 "\n",
             EXIT_SENT);
    Recorder heard;
    StationConfig config = Config({port}, true);
    config.boxesPerLane = 2;
    config.adapterOf = [](const std::string&) { return std::string("usb:0403:6001:A10K3B"); };
    StationController station(std::move(config), heard);
    EXPECT_EQ(station.Lanes()[0].adapter, "usb:0403:6001:A10K3B");  // shown before any box
    // Two boxes, then the lane and with it the station are done by themselves.
    ASSERT_TRUE(Drive(station, [] { return false; }));
    ASSERT_EQ(heard.records.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        const BoxRecord& r = heard.records[size_t(i)];
        EXPECT_EQ(r.box, i + 1);
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.reason, "sent");
        EXPECT_EQ(r.port, port);
        EXPECT_EQ(r.adapter, "usb:0403:6001:A10K3B");
        EXPECT_EQ(r.file, "fw.dat");
        EXPECT_EQ(r.sha256, sha);
        EXPECT_EQ(r.bytes, 4096u);
        EXPECT_TRUE(std::regex_match(r.time, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)")))
            << r.time;
    }
    const std::vector<std::string> order(heard.heard.end() - 2, heard.heard.end());
    EXPECT_EQ(order, (std::vector<std::string>{port + " record 2", port + " ended sent"}));
    const Lane& lane = station.Lanes()[0];
    EXPECT_TRUE(lane.done);
    EXPECT_EQ(lane.state, LaneState::Passed);
    const StationTotals totals = station.Totals();
    EXPECT_EQ(totals.boxes, 2);
    EXPECT_GT(totals.boxesPerHour, 0);
}

TEST_F(ControllerTest, ABoxStoppedByTheOperatorIsRecordedAsStopped)
{
    // The box spoke; its download hangs until the stop ends it by signal.
    const std::string busy = Port("busy", std::string(kStart) + "\n" + kBoxHeard + "\n", EXIT_SENT, 30);
    // Nobody there: stopping it records nothing.
    const std::string idle = Port("idle", std::string(kStart) + "\n", EXIT_SENT, 30);
    Recorder heard;
    StationController station(Config({busy, idle}, true), heard);
    ASSERT_TRUE(Drive(station, [&] { return station.Lanes()[0].boxTalked && station.Lanes()[1].started; }));
    ASSERT_EQ(heard.records.size(), 1u);
    const BoxRecord& r = heard.records[0];
    EXPECT_EQ(r.port, busy);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.reason, "stopped");
    EXPECT_EQ(r.exitCode, 128 + 15);  // the stand-in ends by the SIGTERM
    EXPECT_EQ(r.box, 1);
    EXPECT_EQ(r.adapter, "");
}

}  // namespace
