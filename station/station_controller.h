// SPDX-License-Identifier: MIT
// The station controller: one lane per port, each running marbrix-cli as a
// child process per download (child_process.h) and reading its --json
// events; in station mode box after box, with each box's time limit and the
// waits for a port that is missing or gone. It draws nothing: a front end
// (the command line, the station window) gets typed reports through a
// StationObserver and drives it by Step() from its own loop or timer.
#pragma once

#include "child_command.h"
#include "child_process.h"
#include "lane.h"
#include "lane_rules.h"

#include <functional>
#include <string>
#include <vector>

// What the controller did on its own account, for the front end to say.
enum class LaneNotice {
    SpawnFailed,       // the download process could not be started (detail: why); the lane ends
    TimeLimitReached,  // station mode: the box had its time; its download is asked to stop
    KilledAfterStop,   // the download process outlived the stop by far and is killed
};

class StationObserver {
public:
    virtual ~StationObserver() = default;
    // Every line of a child's event stream as it was written, before the
    // controller reads it (for passing the events on unchanged).
    virtual void ChildEvent(const Lane& lane, const std::string& line) = 0;
    // A "log" event: one line of the download's log.
    virtual void LaneLog(const Lane& lane, const std::string& level, const std::string& text) = 0;
    // The box's console text in whole lines, each with its line break; the
    // rest of a run's text comes as a line of its own when the run ends.
    virtual void BoxOutput(const Lane& lane, const std::vector<std::string>& lines) = 0;
    virtual void LaneNoticed(const Lane& lane, LaneNotice notice, const std::string& detail) = 0;
    // Station mode: a box was counted, and this is its record (for the
    // results file), before RunEnded of the same run. Said in the same Step
    // as the box's download process ended.
    virtual void BoxRecorded(const Lane&, const BoxRecord&) {}
    // A download process ended: what the run was (the lane has its counts).
    virtual void RunEnded(const Lane& lane, const RunEnd& end) = 0;
    // The lane's state, progress or counts changed.
    virtual void LaneChanged(const Lane& lane) = 0;
};

struct StationConfig {
    std::vector<std::string> ports;
    ChildJob job;  // job.loop and job.image are the station's mode too
    // Station mode starts a port's download only once the port is there.
    std::function<bool(const std::string& port)> portPresent;
    // The USB adapter's identity behind a port, asked before each download
    // (an adapter may be swapped between boxes); empty when unknown. Unset:
    // no lane has one.
    std::function<std::string(const std::string& port)> adapterOf;
    // Station mode: boxes per port before the port is done (1: each flashes
    // one box); 0: box after box until stopped.
    int boxesPerLane = 0;
};

class StationController {
public:
    StationController(StationConfig config, StationObserver& observer);
    StationController(const StationController&) = delete;
    StationController& operator=(const StationController&) = delete;

    // Asks every running download to end and starts no new one; a child
    // still running well past the bound it has for that is killed.
    void Stop();
    bool Stopping() const { return m_stopping; }
    // One round: starts the downloads that are due, waits up to waitMs for
    // a child's output (or a stop signal), reads it, ends the runs whose
    // process ended, and keeps the time limits. False, without waiting, once
    // the station has ended: every lane done, or stopped with nothing
    // running.
    bool Step(int waitMs);

    const std::vector<Lane>& Lanes() const { return m_lanes; }
    const StationMode& Mode() const { return m_mode; }
    // The lanes' sums, and the boxes per hour since the controller began.
    StationTotals Totals() const;

private:
    // A lane's process and what of its output is not yet whole lines.
    struct Child {
        ChildHandle handle;
        std::string pending;    // an event line not yet complete
        std::string boxOutput;  // the box's console text not yet a whole line
        StationClock::time_point nextTry = StationClock::now();
    };
    void Spawn(size_t index);
    void Pump(size_t index);
    void OnLine(size_t index, const std::string& line);
    void FlushBoxOutput(size_t index, bool all);
    void Finish(size_t index, int exitCode);

    const StationConfig m_config;
    const StationMode m_mode;
    StationObserver& m_observer;
    std::vector<Lane> m_lanes;
    std::vector<Child> m_children;  // one per lane
    bool m_stopping = false;
    bool m_stuckKilled = false;
    StationClock::time_point m_stopAt;
    const StationClock::time_point m_begunAt = StationClock::now();
};
