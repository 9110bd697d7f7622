// SPDX-License-Identifier: MIT
#include "lane_rules.h"

#include "event_fields.h"
#include "exit_codes.h"

#include <cstdlib>

namespace {

double SecondsBetween(StationClock::time_point from, StationClock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

uint64_t Unsigned(const EventFields& fields, const char* name)
{
    auto it = fields.find(name);
    return it == fields.end() ? 0 : strtoull(it->second.c_str(), nullptr, 10);
}

std::string Text(const EventFields& fields, const char* name)
{
    auto it = fields.find(name);
    return it == fields.end() ? std::string() : it->second;
}

}  // namespace

void LaneRunBegins(Lane& lane, const StationMode& mode, StationClock::time_point now)
{
    lane.box = mode.loop ? lane.boxes + 1 : 0;
    lane.started = lane.boxTalked = lane.transferBegun = lane.resultSeen = lane.timeLimitHit = false;
    lane.percent = 0;
    lane.bytes = lane.size = lane.rate = 0;
    lane.sha256.clear();
    lane.spawnedAt = lane.startedAt = now;
    lane.running = true;
    lane.state = LaneState::OpeningPort;
    lane.stateText.clear();
}

void LaneSpawnFailed(Lane& lane, const StationMode& mode)
{
    lane.running = false;
    lane.lastExit = EXIT_INCOMPLETE;
    lane.lastReason = ExitReason(EXIT_INCOMPLETE, mode.image);
    lane.done = lane.fatal = true;
    lane.state = LaneState::StoppedOnPort;
    lane.stateText = lane.lastReason;
}

bool LaneReadEvent(Lane& lane, const std::string& line, StationClock::time_point now, EventFields* fields)
{
    if (!ParseEventFields(line, fields))
        return false;
    const bool talkedBefore = lane.boxTalked;
    const std::string kind = Text(*fields, "event");
    if (kind == "start") {
        lane.started = true;
        lane.startedAt = now;
        lane.size = Unsigned(*fields, "size");
        lane.sha256 = Text(*fields, "sha256");
        lane.state = LaneState::WaitingForBox;
    } else if (kind == "stage") {
        // The engine's own word on where the session is; a frame of the box
        // comes before its download-start, but a lost "box" must not leave
        // a transfer uncounted.
        const std::string stage = Text(*fields, "stage");
        if (stage == "box" || stage == "transfer") {
            lane.boxTalked = true;
            if (lane.state != LaneState::Sending)
                lane.state = LaneState::BoxTalking;
        }
        if (stage == "transfer")
            lane.transferBegun = true;
    } else if (kind == "progress") {
        // An acknowledged block: the box is there and holds part of the file.
        lane.boxTalked = lane.transferBegun = true;
        lane.percent = atoi(Text(*fields, "percent").c_str());
        lane.bytes = Unsigned(*fields, "bytes");
        lane.rate = Unsigned(*fields, "rate");
        lane.state = LaneState::Sending;
    } else if (kind == "log") {
        if (Text(*fields, "level") == "done") {
            lane.state = LaneState::EngineDone;
            lane.stateText = Text(*fields, "text");
        }
    } else if (kind == "result") {
        lane.resultSeen = true;
    }
    if (lane.boxTalked && !talkedBefore)
        lane.boxSince = now;
    return true;
}

RunEnd LaneRunEnds(Lane& lane, const StationMode& mode, int exitCode, StationClock::time_point now)
{
    RunEnd end;
    end.exitCode = exitCode;
    end.resultSeen = lane.resultSeen;
    end.seconds = SecondsBetween(lane.started ? lane.startedAt : lane.spawnedAt, now);
    lane.running = false;
    lane.lastExit = exitCode;
    if (!mode.loop) {
        lane.done = true;
        lane.lastOk = exitCode == EXIT_SENT && end.resultSeen;
        lane.lastReason = end.resultSeen ? ExitReason(exitCode, mode.image) : kEndedAbnormally;
        lane.lastBytes = lane.lastOk && mode.image ? lane.size : lane.bytes;
        lane.lastSeconds = end.seconds;
        lane.state = LaneState::Ended;
        lane.stateText = lane.lastReason;
        end.verdict = {lane.lastOk ? RunKind::Passed : RunKind::Failed, lane.lastReason};
        return end;
    }
    RunFacts facts;
    facts.exitCode = exitCode;
    facts.image = mode.image;
    facts.resultSeen = end.resultSeen;
    facts.boxTalked = lane.boxTalked;
    facts.transferBegun = lane.transferBegun;
    end.verdict = StationVerdict(facts);
    end.waitBeforeNext = !end.resultSeen;
    switch (end.verdict.kind) {
    case RunKind::PortGone:
        lane.state = LaneState::WaitingForPort;
        end.waitBeforeNext = true;
        return end;
    case RunKind::Fatal:
        lane.done = lane.fatal = true;
        lane.lastReason = end.verdict.reason;
        lane.state = LaneState::StoppedOnPort;
        lane.stateText = end.verdict.reason;
        return end;
    case RunKind::NoBox:
        lane.state = LaneState::WaitingForBox;
        return end;
    case RunKind::Passed:
    case RunKind::Failed:
        break;
    }
    const bool pass = end.verdict.kind == RunKind::Passed;
    ++lane.boxes;
    (pass ? lane.passed : lane.failed) += 1;
    lane.lastOk = pass;
    lane.lastReason = end.verdict.reason;
    lane.lastBytes = pass ? lane.size : lane.bytes;
    lane.lastSeconds = end.seconds;
    lane.state = pass ? LaneState::Passed : LaneState::Failed;
    if (mode.boxesPerLane > 0 && lane.boxes >= mode.boxesPerLane) {
        lane.done = true;  // its result stays on show
        return end;
    }
    // A box whose line was lost took its port with it, as a rule (an adapter
    // powered by the box): wait for the port as between boxes.
    if (exitCode == EXIT_PORT) {
        lane.state = LaneState::FailedWaitingForPort;
        end.waitBeforeNext = true;
    }
    return end;
}

bool LaneTimeLimitDue(const Lane& lane, double limitSec, StationClock::time_point now)
{
    return limitSec > 0 && lane.running && lane.boxTalked && !lane.timeLimitHit &&
           SecondsBetween(lane.boxSince, now) >= limitSec;
}

bool LaneBoxRecord(const Lane& lane, const RunEnd& end, const std::string& file, bool stopped,
                   const std::string& endTime, StationClock::time_point now, BoxRecord* record)
{
    if (end.verdict.kind != RunKind::Passed && end.verdict.kind != RunKind::Failed)
        return false;
    BoxRecord& r = *record;
    r = BoxRecord();
    r.time = endTime;
    r.port = lane.port;
    r.adapter = lane.adapter;
    r.box = lane.box;
    r.file = file;
    r.sha256 = lane.sha256;
    r.bytes = lane.size;  // the image's identity with its digest, however far it got
    // A box counts only once it was heard, so its clock runs from then.
    r.seconds = lane.boxTalked ? SecondsBetween(lane.boxSince, now) : end.seconds;
    r.ok = end.verdict.kind == RunKind::Passed;
    r.exitCode = end.exitCode;
    // The stop ends a download as incomplete, or (a child that outlived it)
    // killed without its result; a box that had failed by then keeps its
    // own reason.
    const bool endedByStop = end.exitCode == EXIT_INCOMPLETE || !end.resultSeen;
    r.reason = !r.ok && stopped && endedByStop ? kBoxStoppedReason : end.verdict.reason;
    return true;
}

bool LaneFailed(const Lane& lane, const StationMode& mode)
{
    return mode.loop ? lane.failed > 0 || lane.fatal : !lane.lastOk;
}

StationTotals SumLanes(const std::vector<Lane>& lanes, const StationMode& mode)
{
    StationTotals totals;
    for (const Lane& lane : lanes) {
        totals.boxes += lane.boxes;
        totals.passed += lane.passed;
        totals.failed += lane.failed;
        if (LaneFailed(lane, mode))
            totals.failedPorts.push_back(lane.port);
    }
    return totals;
}

double BoxesPerHour(int boxes, double seconds)
{
    return boxes > 0 && seconds > 0 ? boxes * 3600.0 / seconds : 0;
}
