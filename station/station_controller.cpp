// SPDX-License-Identifier: MIT
#include "station_controller.h"

#include "event_time.h"

#include <utility>

namespace {

// A child ends within about 2 s of the stop; past this it is stuck.
constexpr int kStuckChildMs = 6000;
// A port that could not be opened (held, gone again) is tried this often.
constexpr int kRetryPortMs = 1000;
// How often a missing port is looked for in station mode.
constexpr int kPortLookMs = 200;

StationMode ModeOf(const StationConfig& config)
{
    StationMode mode;
    mode.image = config.job.image;
    mode.loop = config.job.loop;
    mode.boxesPerLane = config.boxesPerLane;
    return mode;
}

}  // namespace

StationController::StationController(StationConfig config, StationObserver& observer)
    : m_config(std::move(config)), m_mode(ModeOf(m_config)), m_observer(observer)
{
    for (const std::string& port : m_config.ports) {
        Lane lane;
        lane.port = port;
        if (m_config.adapterOf)
            lane.adapter = m_config.adapterOf(port);
        m_lanes.push_back(lane);
    }
    m_children.resize(m_lanes.size());
}

void StationController::Stop()
{
    if (m_stopping)
        return;
    m_stopping = true;
    m_stopAt = StationClock::now();
    // The children may have had the signal already (a Ctrl-C reaches the
    // whole process group); a second one does no harm.
    for (size_t i = 0; i < m_lanes.size(); ++i)
        if (m_lanes[i].running)
            ChildAskToStop(m_children[i].handle);
}

void StationController::Spawn(size_t index)
{
    Lane& lane = m_lanes[index];
    Child& child = m_children[index];
    LaneRunBegins(lane, m_mode, StationClock::now());
    if (m_config.adapterOf)
        lane.adapter = m_config.adapterOf(lane.port);
    child.pending.clear();
    std::vector<std::string> argv, env;
    ChildCommand(m_config.job, lane.port, lane.box, &argv, &env);
    std::string why;
    if (!ChildSpawn(argv, env, &child.handle, &why)) {
        LaneSpawnFailed(lane, m_mode);
        m_observer.LaneNoticed(lane, LaneNotice::SpawnFailed, why);
        m_observer.LaneChanged(lane);
        return;
    }
    m_observer.LaneChanged(lane);
}

void StationController::FlushBoxOutput(size_t index, bool all)
{
    std::string& text = m_children[index].boxOutput;
    std::vector<std::string> lines;
    size_t nl;
    while ((nl = text.find('\n')) != std::string::npos) {
        lines.push_back(text.substr(0, nl + 1));
        text.erase(0, nl + 1);
    }
    if (all && !text.empty()) {
        lines.push_back(text + "\n");
        text.clear();
    }
    if (!lines.empty())
        m_observer.BoxOutput(m_lanes[index], lines);
}

void StationController::OnLine(size_t index, const std::string& line)
{
    Lane& lane = m_lanes[index];
    m_observer.ChildEvent(lane, line);
    EventFields fields;
    if (!LaneReadEvent(lane, line, StationClock::now(), &fields))
        return;
    const std::string& kind = fields["event"];
    if (kind == "log") {
        m_observer.LaneLog(lane, fields["level"], fields["text"]);
    } else if (kind == "box-output") {
        // Chatter alone proves no box: the last one may still be saying
        // goodbye on a port just opened again.
        m_children[index].boxOutput += fields["data"];
        FlushBoxOutput(index, false);
        return;
    }
    m_observer.LaneChanged(lane);
}

void StationController::Pump(size_t index)
{
    Child& child = m_children[index];
    char buf[16384];
    long n;
    while ((n = ChildRead(&child.handle, buf, sizeof buf)) > 0) {
        child.pending.append(buf, size_t(n));
        size_t nl;
        while ((nl = child.pending.find('\n')) != std::string::npos) {
            std::string line = child.pending.substr(0, nl);
            child.pending.erase(0, nl + 1);
            OnLine(index, line);
        }
    }
}

void StationController::Finish(size_t index, int exitCode)
{
    Lane& lane = m_lanes[index];
    Child& child = m_children[index];
    FlushBoxOutput(index, true);
    const auto now = StationClock::now();
    const RunEnd end = LaneRunEnds(lane, m_mode, exitCode, now);
    if (end.waitBeforeNext)
        child.nextTry = now + std::chrono::milliseconds(kRetryPortMs);
    BoxRecord record;
    if (m_mode.loop && LaneBoxRecord(lane, end, m_config.job.file, m_stopping, IsoTimeNow(), now, &record))
        m_observer.BoxRecorded(lane, record);
    m_observer.RunEnded(lane, end);
    m_observer.LaneChanged(lane);
}

bool StationController::Step(int waitMs)
{
    if (!m_stopping) {
        for (size_t i = 0; i < m_lanes.size(); ++i) {
            Lane& lane = m_lanes[i];
            if (lane.running || lane.done || StationClock::now() < m_children[i].nextTry)
                continue;
            if (m_mode.loop && m_config.portPresent && !m_config.portPresent(lane.port)) {
                if (lane.state != LaneState::WaitingForPort) {
                    lane.state = LaneState::WaitingForPort;
                    m_observer.LaneChanged(lane);
                }
                m_children[i].nextTry = StationClock::now() + std::chrono::milliseconds(kPortLookMs);
                continue;
            }
            Spawn(i);
        }
    }
    bool anyRunning = false, allDone = true;
    for (const Lane& lane : m_lanes) {
        anyRunning = anyRunning || lane.running;
        allDone = allDone && lane.done;
    }
    if (!anyRunning && (m_stopping || allDone))
        return false;

    std::vector<ChildHandle*> running;
    for (size_t i = 0; i < m_lanes.size(); ++i)
        if (m_lanes[i].running)
            running.push_back(&m_children[i].handle);
    ChildrenWait(running, waitMs);
    for (size_t i = 0; i < m_lanes.size(); ++i) {
        if (!m_lanes[i].running)
            continue;
        Pump(i);
        const int rc = ChildPoll(&m_children[i].handle);
        if (rc < 0)
            continue;
        Pump(i);  // what it wrote before it ended
        Child& child = m_children[i];
        if (!child.pending.empty())
            OnLine(i, child.pending);
        child.pending.clear();
        char drop[256];
        for (int n = 0; n < 64 && ChildRead(&child.handle, drop, sizeof drop) != 0; ++n) {
        }
        Finish(i, rc);
    }
    const auto now = StationClock::now();
    if (m_mode.loop && !m_stopping) {
        for (size_t i = 0; i < m_lanes.size(); ++i) {
            Lane& lane = m_lanes[i];
            if (!LaneTimeLimitDue(lane, m_config.job.timeoutSec, now))
                continue;
            lane.timeLimitHit = true;
            m_observer.LaneNoticed(lane, LaneNotice::TimeLimitReached, std::string());
            ChildAskToStop(m_children[i].handle);
        }
    }
    if (m_stopping && !m_stuckKilled && now - m_stopAt > std::chrono::milliseconds(kStuckChildMs)) {
        m_stuckKilled = true;
        for (size_t i = 0; i < m_lanes.size(); ++i)
            if (m_lanes[i].running) {
                m_observer.LaneNoticed(m_lanes[i], LaneNotice::KilledAfterStop, std::string());
                ChildKill(m_children[i].handle);
            }
    }
    return true;
}

StationTotals StationController::Totals() const
{
    StationTotals totals = SumLanes(m_lanes, m_mode);
    totals.boxesPerHour =
        BoxesPerHour(totals.boxes, std::chrono::duration<double>(StationClock::now() - m_begunAt).count());
    return totals;
}
