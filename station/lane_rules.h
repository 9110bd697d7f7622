// SPDX-License-Identifier: MIT
// What a port's download process tells the station, read into its lane: the
// events it writes (as marbrix-cli --json) while it runs, then its exit
// code. Here the station decides, from typed values alone, when the box was
// heard, when its transfer began, what a finished run scored and what the
// port does next. No processes: the controller feeds these, and so can a
// test.
#pragma once

#include "box_record.h"
#include "box_verdict.h"
#include "lane.h"

#include <map>
#include <string>
#include <vector>

// An event's members: strings as their bytes, numbers and booleans as JSON
// text (event_fields.h).
using EventFields = std::map<std::string, std::string>;

struct StationMode {
    bool image = true;  // an image download; else a served one
    bool loop = false;  // station mode: box after box on every port
    // Station mode: a port is done once it has counted this many boxes
    // (1: each port flashes one box); 0: box after box until stopped.
    int boxesPerLane = 0;
};

// How one run of a port ended.
struct RunEnd {
    int exitCode = 0;
    bool resultSeen = false;  // false: the process ended without its result (killed, crashed)
    double seconds = 0;       // since the port was open (since the process started, if it never was)
    // Station mode: what the run was. One download per port: Passed or
    // Failed, with the reason of its result line.
    RunVerdict verdict{RunKind::Failed, {}};
    // The port's next process waits a while: a port gone, or a process that
    // did not end on its own account (one that fails at its start would
    // otherwise be started in a loop).
    bool waitBeforeNext = false;
};

// A download process is being started for the lane.
void LaneRunBegins(Lane& lane, const StationMode& mode, StationClock::time_point now);
// It could not be started: nothing more runs on this port.
void LaneSpawnFailed(Lane& lane, const StationMode& mode);
// One line of the process's event stream (without its line break). False,
// with the lane unchanged, when the line is no event; else its members in
// `fields`.
bool LaneReadEvent(Lane& lane, const std::string& line, StationClock::time_point now, EventFields* fields);
// The process ended with exitCode: the run's verdict, the counts, the state.
RunEnd LaneRunEnds(Lane& lane, const StationMode& mode, int exitCode, StationClock::time_point now);
// Station mode: the box of this run has had the time it may take, counted
// from when it was first heard (a port may wait long for its next box).
bool LaneTimeLimitDue(const Lane& lane, double limitSec, StationClock::time_point now);

// Station mode: the record of the box the run just ended counted (after
// LaneRunEnds); false for a run that was no box. `stopped`: the operator
// stopped the station while it ran, so a box that did not pass is recorded
// as stopped rather than by the exit code's words. `endTime`: the box's end
// as the record writes it.
bool LaneBoxRecord(const Lane& lane, const RunEnd& end, const std::string& file, bool stopped,
                   const std::string& endTime, StationClock::time_point now, BoxRecord* record);

// The summary: a lane failed when its download did not succeed, or (station
// mode) when any of its boxes failed or it stopped for good.
bool LaneFailed(const Lane& lane, const StationMode& mode);
struct StationTotals {
    int boxes = 0, passed = 0, failed = 0;
    std::vector<std::string> failedPorts;  // in the order of the lanes
    double boxesPerHour = 0;               // StationController::Totals: over the time since its start
};
StationTotals SumLanes(const std::vector<Lane>& lanes, const StationMode& mode);
// The pace of a station that has counted `boxes` in `seconds`; 0 before the
// first box.
double BoxesPerHour(int boxes, double seconds);
