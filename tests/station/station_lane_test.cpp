// SPDX-License-Identifier: MIT
// A lane fed the event lines a download process writes, then its exit code:
// what the run scored, the counts, and where the port stands.
#include "child_command.h"
#include "exit_codes.h"
#include "lane_rules.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using Json = nlohmann::ordered_json;

// One event line as the child writes it: kind first, then time and port.
std::string Event(const char* kind, Json members = Json::object())
{
    Json event = {{"event", kind}, {"time", "2026-12-10T10:41:03.052+01:00"}, {"port", "/dev/pts/7"}};
    event.update(members);
    return event.dump();
}

const std::string kStart = Event("start", {{"file", "fw.dat"}, {"mode", "image"}, {"size", 262144}});
const std::string kBoxHeard = Event("stage", {{"stage", "box"}});
const std::string kTransfer = Event("stage", {{"stage", "transfer"}});
const std::string kHalf = Event("progress", {{"percent", 50}, {"bytes", 131072}, {"rate", 11024}});
const std::string kChatter = Event("box-output", {{"data", "STB boot: \r\n"}});
const std::string kSentLine = Event("log", {{"level", "done"}, {"text", "Velto file send OK!"}});
// Its members do not matter to the station: its exit code tells the ending.
const std::string kResult = Event("result", {{"ok", false}});

struct RunCase {
    const char* what;
    bool image;
    std::vector<std::string> events;
    int exitCode;
    RunKind kind;
    const char* reason;
    int passed, failed;  // after the run
    LaneState state;
    bool waitBeforeNext;
};

RunEnd Feed(Lane& lane, const StationMode& mode, const std::vector<std::string>& events, int exitCode)
{
    const auto t0 = StationClock::now();
    LaneRunBegins(lane, mode, t0);
    EventFields fields;
    for (const std::string& line : events)
        LaneReadEvent(lane, line, t0, &fields);
    return LaneRunEnds(lane, mode, exitCode, t0 + std::chrono::seconds(3));
}

TEST(StationLane, EventsAndExitCodeScoreTheBox)
{
    const int kKilled = 128 + 9;
    // clang-format off
    const RunCase cases[] = {
        {"image sent", true, {kStart, kChatter, kBoxHeard, kTransfer, kHalf, kSentLine, kResult}, EXIT_SENT,
         RunKind::Passed, "sent", 1, 0, LaneState::Passed, false},
        {"served download stopped after its first request", false, {kStart, kBoxHeard, kTransfer, kResult}, EXIT_SENT,
         RunKind::Passed, "stopped", 1, 0, LaneState::Passed, false},
        {"box heard, stopped before any transfer", true, {kStart, kBoxHeard, kResult}, EXIT_INCOMPLETE,
         RunKind::Failed, "incomplete", 0, 1, LaneState::Failed, false},
        {"chatter alone is no box", true, {kStart, kChatter, kResult}, EXIT_INCOMPLETE,
         RunKind::NoBox, "incomplete", 0, 0, LaneState::WaitingForBox, false},
        {"log lines that look like frames are no box", true,
         {kStart, Event("log", {{"level", "info"}, {"text", "==>DATA_DL_START"}}),
          Event("log", {{"level", "info"}, {"text", "[VUMO] => frame"}}), kResult}, EXIT_INCOMPLETE,
         RunKind::NoBox, "incomplete", 0, 0, LaneState::WaitingForBox, false},
        {"port gone before the transfer", true, {kStart, kBoxHeard, kResult}, EXIT_PORT,
         RunKind::PortGone, "port failed or lost", 0, 0, LaneState::WaitingForPort, true},
        {"line lost once the transfer began", true, {kStart, kBoxHeard, kTransfer, kResult}, EXIT_PORT,
         RunKind::Failed, "line lost during the transfer", 0, 1, LaneState::FailedWaitingForPort, true},
        {"transfer without the box's stage still counts", true, {kStart, kTransfer, kResult}, EXIT_PORT,
         RunKind::Failed, "line lost during the transfer", 0, 1, LaneState::FailedWaitingForPort, true},
        {"killed in the transfer", true, {kStart, kBoxHeard, kHalf}, kKilled,
         RunKind::Failed, "ended abnormally", 0, 1, LaneState::Failed, true},
        {"killed while waiting for a box", true, {kStart}, kKilled,
         RunKind::NoBox, "ended abnormally", 0, 0, LaneState::WaitingForBox, true},
        {"exit 0 without its result is no pass", true, {kStart, kBoxHeard, kTransfer, kHalf}, EXIT_SENT,
         RunKind::Failed, "ended abnormally", 0, 1, LaneState::Failed, true},
        {"rejected by the box", true, {kStart, kBoxHeard, kResult}, EXIT_REJECTED,
         RunKind::Failed, "rejected", 0, 1, LaneState::Failed, false},
        {"image rejected before any box", true, {kResult}, EXIT_REJECTED,
         RunKind::Fatal, "rejected", 0, 0, LaneState::StoppedOnPort, false},
        {"file unreadable", true, {kResult}, EXIT_FILE,
         RunKind::Fatal, "file unreadable", 0, 0, LaneState::StoppedOnPort, false},
        {"lines that are no events are passed over", true,
         {"not json", "{\"event\":\"progress\"", "[1,2]", kStart, kResult}, EXIT_INCOMPLETE,
         RunKind::NoBox, "incomplete", 0, 0, LaneState::WaitingForBox, false},
    };
    // clang-format on
    for (const RunCase& c : cases) {
        SCOPED_TRACE(c.what);
        StationMode mode;
        mode.image = c.image;
        mode.loop = true;
        Lane lane;
        lane.port = "/dev/pts/7";
        const RunEnd end = Feed(lane, mode, c.events, c.exitCode);
        EXPECT_EQ(int(end.verdict.kind), int(c.kind));
        EXPECT_EQ(end.verdict.reason, c.reason);
        EXPECT_EQ(end.exitCode, c.exitCode);
        EXPECT_EQ(lane.boxes, c.passed + c.failed);
        EXPECT_EQ(lane.passed, c.passed);
        EXPECT_EQ(lane.failed, c.failed);
        EXPECT_EQ(int(lane.state), int(c.state));
        EXPECT_EQ(end.waitBeforeNext, c.waitBeforeNext);
        EXPECT_FALSE(lane.running);
        EXPECT_EQ(lane.done, c.kind == RunKind::Fatal);
        EXPECT_DOUBLE_EQ(end.seconds, 3.0);
    }
}

TEST(StationLane, EventsMoveTheStateAndTheFigures)
{
    StationMode mode;
    mode.loop = true;
    Lane lane;
    const auto t0 = StationClock::now();
    LaneRunBegins(lane, mode, t0);
    EXPECT_EQ(lane.state, LaneState::OpeningPort);
    EXPECT_TRUE(lane.running);
    EventFields fields;
    struct Step {
        std::string line;
        LaneState state;
    };
    const Step steps[] = {
        {kStart, LaneState::WaitingForBox}, {kChatter, LaneState::WaitingForBox}, {kBoxHeard, LaneState::BoxTalking},
        {kTransfer, LaneState::BoxTalking}, {kHalf, LaneState::Sending},          {kSentLine, LaneState::EngineDone},
        {kResult, LaneState::EngineDone},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.line);
        ASSERT_TRUE(LaneReadEvent(lane, s.line, t0, &fields));
        EXPECT_EQ(lane.state, s.state);
    }
    EXPECT_EQ(lane.stateText, "Velto file send OK!");
    EXPECT_EQ(lane.size, 262144u);
    EXPECT_EQ(lane.bytes, 131072u);
    EXPECT_EQ(lane.rate, 11024u);
    EXPECT_EQ(lane.percent, 50);
    LaneRunEnds(lane, mode, EXIT_SENT, t0);
    EXPECT_EQ(lane.lastBytes, 262144u);  // the whole image, not the last progress
    EXPECT_TRUE(lane.lastOk);
}

// Box after box on one port: the numbers, the counts, a port gone between.
TEST(StationLane, BoxesOnOnePortAreNumberedAndCounted)
{
    StationMode mode;
    mode.loop = true;
    Lane lane;
    const auto t0 = StationClock::now();
    struct Run {
        std::vector<std::string> events;
        int exitCode;
        int box;  // the number the run's box gets
    };
    const Run runs[] = {
        {{kStart, kBoxHeard, kTransfer, kHalf, kResult}, EXIT_SENT, 1},
        {{kStart, kResult}, EXIT_PORT, 2},  // no box: the number waits
        {{kStart, kResult}, EXIT_INCOMPLETE, 2},
        {{kStart, kBoxHeard, kTransfer, kResult}, EXIT_REJECTED, 2},
        {{kStart, kBoxHeard, kTransfer, kHalf, kResult}, EXIT_SENT, 3},
    };
    for (const Run& r : runs) {
        LaneRunBegins(lane, mode, t0);
        EXPECT_EQ(lane.box, r.box);
        EventFields fields;
        for (const std::string& line : r.events)
            LaneReadEvent(lane, line, t0, &fields);
        LaneRunEnds(lane, mode, r.exitCode, t0);
    }
    EXPECT_EQ(lane.boxes, 3);
    EXPECT_EQ(lane.passed, 2);
    EXPECT_EQ(lane.failed, 1);
    EXPECT_TRUE(lane.lastOk);
    EXPECT_FALSE(lane.done);
    EXPECT_TRUE(LaneFailed(lane, mode));  // one failed box marks the port

    // A fresh run forgets the last one's figures.
    LaneRunBegins(lane, mode, t0);
    EXPECT_FALSE(lane.boxTalked || lane.transferBegun || lane.resultSeen || lane.started);
    EXPECT_EQ(lane.bytes, 0u);
    EXPECT_EQ(lane.percent, 0);
}

TEST(StationLane, OneDownloadPerPortEndsTheLane)
{
    struct Case {
        const char* what;
        std::vector<std::string> events;
        int exitCode;
        bool ok;
        const char* reason;
        uint64_t lastBytes;
    };
    const Case cases[] = {
        {"sent", {kStart, kBoxHeard, kTransfer, kHalf, kResult}, EXIT_SENT, true, "sent", 262144},
        {"port failed", {kResult}, EXIT_PORT, false, "port failed or lost", 0},
        {"stopped midway", {kStart, kBoxHeard, kHalf, kResult}, EXIT_INCOMPLETE, false, "incomplete", 131072},
        {"exit 0, no result", {kStart, kHalf}, EXIT_SENT, false, "ended abnormally", 131072},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StationMode mode;  // loop off
        Lane lane;
        lane.port = "COM7";
        const RunEnd end = Feed(lane, mode, c.events, c.exitCode);
        EXPECT_EQ(lane.box, 0);
        EXPECT_TRUE(lane.done);
        EXPECT_EQ(lane.lastOk, c.ok);
        EXPECT_EQ(lane.lastReason, c.reason);
        EXPECT_EQ(end.verdict.reason, c.reason);
        EXPECT_EQ(int(end.verdict.kind), int(c.ok ? RunKind::Passed : RunKind::Failed));
        EXPECT_EQ(lane.lastExit, c.exitCode);
        EXPECT_EQ(lane.lastBytes, c.lastBytes);
        EXPECT_EQ(lane.state, LaneState::Ended);
        EXPECT_EQ(lane.stateText, c.reason);
        EXPECT_EQ(lane.boxes, 0);
        EXPECT_EQ(LaneFailed(lane, mode), !c.ok);
    }
}

// The box's time runs from when it was first heard, not from the port's
// opening: a port may wait long for its next box.
TEST(StationLane, TimeLimitCountsFromTheBoxsFirstWord)
{
    StationMode mode;
    mode.loop = true;
    Lane lane;
    const auto t0 = StationClock::now();
    const auto at = [&](int sec) { return t0 + std::chrono::seconds(sec); };
    EventFields fields;
    LaneRunBegins(lane, mode, t0);
    LaneReadEvent(lane, kStart, t0, &fields);
    EXPECT_FALSE(LaneTimeLimitDue(lane, 10, at(100)));  // no box yet
    LaneReadEvent(lane, kBoxHeard, at(100), &fields);
    LaneReadEvent(lane, kHalf, at(105), &fields);  // a later word does not restart it
    EXPECT_FALSE(LaneTimeLimitDue(lane, 10, at(109)));
    EXPECT_TRUE(LaneTimeLimitDue(lane, 10, at(110)));
    EXPECT_FALSE(LaneTimeLimitDue(lane, 0, at(1000)));  // none set
    lane.timeLimitHit = true;                           // once per box
    EXPECT_FALSE(LaneTimeLimitDue(lane, 10, at(111)));
}

TEST(StationLane, TotalsNameTheFailedPortsInOrder)
{
    StationMode mode;
    mode.loop = true;
    std::vector<Lane> lanes(4);
    lanes[0].port = "A";
    lanes[0].boxes = lanes[0].passed = 2;
    lanes[1].port = "B";
    lanes[1].boxes = 3, lanes[1].passed = 2, lanes[1].failed = 1;
    lanes[2].port = "C";  // no box at all is no failure
    lanes[3].port = "D";
    lanes[3].fatal = lanes[3].done = true;
    const StationTotals t = SumLanes(lanes, mode);
    EXPECT_EQ(t.boxes, 5);
    EXPECT_EQ(t.passed, 4);
    EXPECT_EQ(t.failed, 1);
    EXPECT_EQ(t.failedPorts, (std::vector<std::string>{"B", "D"}));
}

// The station's children: one port each, --json, the station's own clocks
// in station mode.
// Station mode: what the record of a counted box holds, and which runs leave
// none.
TEST(StationLane, ACountedBoxLeavesItsRecord)
{
    const std::string kSha = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";
    const std::string start = Event("start", {{"file", "fw.dat"}, {"size", 262144}, {"sha256", kSha}});
    const int kKilled = 128 + 9;
    struct Case {
        const char* what;
        std::vector<std::string> events;  // after "start"
        int exitCode;
        bool stopped;  // the operator stopped the station during the run
        bool recorded;
        bool ok;
        const char* reason;
    };
    // clang-format off
    const Case cases[] = {
        {"passed", {kBoxHeard, kTransfer, kHalf, kResult}, EXIT_SENT, false, true, true, "sent"},
        {"passed though the stop came late", {kBoxHeard, kTransfer, kHalf, kResult}, EXIT_SENT, true, true, true, "sent"},
        {"stopped in the transfer", {kBoxHeard, kTransfer, kHalf, kResult}, EXIT_INCOMPLETE, true, true, false, "stopped"},
        {"stopped, killed without its result", {kBoxHeard, kHalf}, kKilled, true, true, false, "stopped"},
        {"rejected before the stop keeps its reason", {kBoxHeard, kResult}, EXIT_REJECTED, true, true, false, "rejected"},
        {"its time limit, no stop", {kBoxHeard, kTransfer, kResult}, EXIT_INCOMPLETE, false, true, false, "incomplete"},
        {"line lost", {kBoxHeard, kTransfer, kResult}, EXIT_PORT, false, true, false, "line lost during the transfer"},
        {"no box came", {kChatter, kResult}, EXIT_INCOMPLETE, true, false, false, ""},
        {"port gone between boxes", {kResult}, EXIT_PORT, false, false, false, ""},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StationMode mode;
        mode.loop = true;
        Lane lane;
        lane.port = "/dev/pts/7";
        lane.adapter = "usb:0403:6001:A10K3B";
        lane.boxes = 4;  // this is the lane's fifth box
        const auto t0 = StationClock::now();
        LaneRunBegins(lane, mode, t0);
        EventFields fields;
        LaneReadEvent(lane, start, t0, &fields);
        // The box speaks a second after the port opened, and ends 2.5 s later.
        for (const std::string& line : c.events)
            LaneReadEvent(lane, line, t0 + std::chrono::seconds(1), &fields);
        const auto endAt = t0 + std::chrono::milliseconds(3500);
        const RunEnd end = LaneRunEnds(lane, mode, c.exitCode, endAt);
        BoxRecord r;
        ASSERT_EQ(LaneBoxRecord(lane, end, "fw.dat", c.stopped, "2026-12-10T10:41:03.052+01:00", endAt, &r),
                  c.recorded);
        if (!c.recorded)
            continue;
        EXPECT_EQ(r.ok, c.ok);
        EXPECT_EQ(r.reason, c.reason);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_EQ(r.box, 5);
        EXPECT_EQ(r.port, "/dev/pts/7");
        EXPECT_EQ(r.adapter, "usb:0403:6001:A10K3B");
        EXPECT_EQ(r.file, "fw.dat");
        EXPECT_EQ(r.time, "2026-12-10T10:41:03.052+01:00");
        // The image as sent, whatever part of it the box took.
        EXPECT_EQ(r.sha256, kSha);
        EXPECT_EQ(r.bytes, 262144u);
        EXPECT_DOUBLE_EQ(r.seconds, 2.5);  // from the box's first word, not the port's opening
    }
}

// --once: a port is done with its first counted box, and shows its result;
// runs that were no box do not use it up.
TEST(StationLane, OneBoxPerLaneEndsItWithItsResult)
{
    StationMode mode;
    mode.loop = true;
    mode.boxesPerLane = 1;
    Lane lane;
    RunEnd end = Feed(lane, mode, {kStart, kResult}, EXIT_PORT);
    EXPECT_FALSE(lane.done);
    EXPECT_EQ(lane.state, LaneState::WaitingForPort);
    end = Feed(lane, mode, {kStart, kBoxHeard, kTransfer, kResult}, EXIT_PORT);
    EXPECT_TRUE(lane.done);
    EXPECT_FALSE(lane.fatal);
    EXPECT_EQ(lane.state, LaneState::Failed);  // not waiting for a port it will not use
    EXPECT_EQ(lane.failed, 1);
    EXPECT_FALSE(end.waitBeforeNext);
}

TEST(StationLane, BoxesPerHour)
{
    EXPECT_DOUBLE_EQ(BoxesPerHour(0, 100), 0);
    EXPECT_DOUBLE_EQ(BoxesPerHour(3, 0), 0);
    EXPECT_DOUBLE_EQ(BoxesPerHour(12, 360), 120);
}

TEST(StationChildCommand, OnePortJsonAndTheStationsClocks)
{
    ChildJob job;
    job.executable = "marbrix-cli";
    job.file = "fw.dat";
    job.baud = 115200;
    job.timeoutSec = 90;
    job.waitPortSec = 2.5;
    std::vector<std::string> argv, env;
    ChildCommand(job, "/dev/pts/7", 0, &argv, &env);
    EXPECT_EQ(argv, (std::vector<std::string>{"marbrix-cli", "-p", "/dev/pts/7", "-b", "115200", "--image",
                                              "--timeout", "90", "--wait-port", "2.5", "--json", "--", "fw.dat"}));
    EXPECT_EQ(env, (std::vector<std::string>{std::string(kChildEnv) + "=1"}));

    job.loop = true;
    job.image = false;
    ChildCommand(job, "-x", 4, &argv, &env);
    EXPECT_EQ(argv, (std::vector<std::string>{"marbrix-cli", "-p", "-x", "-b", "115200", "--served", "--json", "--",
                                              "fw.dat"}));
    EXPECT_EQ(env, (std::vector<std::string>{std::string(kChildEnv) + "=1", std::string(kBoxEnv) + "=4"}));
}

}  // namespace
