// SPDX-License-Identifier: MIT
#include "production_line.h"

#include "box_verdict.h"
#include "child_process.h"
#include "exit_codes.h"
#include "json_events.h"
#include "live_lines.h"
#include "local_time.h"
#include "log_file.h"
#include "station_controller.h"
#include "stdout_end.h"
#include "stdout_writer.h"
#include "usb_identity.h"
#include "wait_port.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRedrawMs = 200;

// The station controller drawn on a terminal: prefixed log lines, result
// lines and live lines on standard error, the box's chatter (or, with
// --json, every child's events) on standard output, the summary table at
// the end.
class TerminalStation : public StationObserver {
public:
    explicit TerminalStation(const DownloadOptions& o) : m_o(o), m_station(Config(o), *this) {}

    int Run();

    void ChildEvent(const Lane&, const std::string& line) override
    {
        if (m_o.json)
            JsonForwardLine(line);
    }
    void LaneLog(const Lane& lane, const std::string&, const std::string& text) override { Say(lane.port, text); }
    void BoxOutput(const Lane& lane, const std::vector<std::string>& lines) override
    {
        if (m_o.json)
            return;  // the events carry it
        std::string out;
        for (const std::string& line : lines)
            out += "[" + lane.port + "] " + line;
        StdoutWrite(out, StdoutClass::Droppable);
    }
    void LaneNoticed(const Lane& lane, LaneNotice notice, const std::string& detail) override;
    void RunEnded(const Lane& lane, const RunEnd& end) override;
    void LaneChanged(const Lane&) override { Redraw(false); }

private:
    static StationConfig Config(const DownloadOptions& o)
    {
        StationConfig config;
        config.ports = o.ports;
        config.job.executable = SelfExecutable();
        config.job.file = o.file;
        config.job.baud = o.baud;
        config.job.image = DownloadIsImage(o);
        config.job.loop = o.loop;
        config.job.timeoutSec = o.timeoutSec;
        config.job.waitPortSec = o.waitPortSec;
        config.portPresent = [](const std::string& port) {
            const std::string path = ResolvePortPath(port);
            return !path.empty() && PortPathPresent(path);
        };
        return config;
    }
    void Say(const std::string& port, const std::string& text)
    {
        LivePrint("[" + port + "] " + LocalClockText(time(nullptr)) + "  " + text);
        Record(port, text);
    }
    // A line for the log file alone; the first one it does not take is said
    // at once (and, in station mode, ends the station).
    void Record(const std::string& port, const std::string& text)
    {
        if (LogFileWrite(port, text) == LogFileWritten::FirstFailure) {
            m_logFailed = true;
            LivePrint(LocalClockText(time(nullptr)) + "  " + LogFileFailureText());
        }
    }
    void WriteMissingResult(const Lane& lane, const RunEnd& end);
    void Redraw(bool force);
    int Summary();

    const DownloadOptions& m_o;
    StationController m_station;
    bool m_logFailed = false;
    Clock::time_point m_lastDraw;
};

std::string StateText(const Lane& lane, bool loop)
{
    switch (lane.state) {
    case LaneState::Starting:
        return "starting";
    case LaneState::OpeningPort:
        return "opening the port";
    case LaneState::WaitingForBox:
        return loop ? "waiting for a box" : "waiting for the box";
    case LaneState::BoxTalking:
        return "box talking";
    case LaneState::Sending:
        return "sending";
    case LaneState::EngineDone:
        return lane.stateText.substr(0, 24);
    case LaneState::WaitingForPort:
        return "waiting for the port";
    case LaneState::Passed:
        return "passed, next box";
    case LaneState::Failed:
        return "FAILED, next box";
    case LaneState::FailedWaitingForPort:
        return "FAILED, waiting for the port";
    case LaneState::Ended:
    case LaneState::StoppedOnPort:
        return lane.stateText;
    }
    return std::string();
}

void TerminalStation::LaneNoticed(const Lane& lane, LaneNotice notice, const std::string& detail)
{
    switch (notice) {
    case LaneNotice::SpawnFailed:
        Say(lane.port, "Can't start the download process: " + detail);
        return;
    case LaneNotice::TimeLimitReached: {
        char text[96];
        snprintf(text, sizeof text, "Time limit of %g s reached for this box, stopping its download.",
                 m_o.timeoutSec);
        Say(lane.port, text);
        return;
    }
    case LaneNotice::KilledAfterStop:
        Say(lane.port, "The download process did not end after the stop; killing it.");
        return;
    }
}

// A child that ended without its result event (killed, crashed, gone
// without its stuck engine) gets one from here, so that a reader of the
// events sees every run of every port end.
void TerminalStation::WriteMissingResult(const Lane& lane, const RunEnd& end)
{
    EventObject event;
    event["event"] = "result";
    event["time"] = IsoTimeNow();
    event["port"] = lane.port;
    if (lane.box > 0)
        event["box"] = lane.box;
    event["ok"] = false;
    event["reason"] = std::string(kEndedAbnormally);
    event["exit_code"] = end.exitCode;
    event["seconds"] = end.seconds;
    // Passed on like the child's own events.
    ChildEvent(lane, EventText(event));
}

void TerminalStation::RunEnded(const Lane& lane, const RunEnd& end)
{
    if (!end.resultSeen)
        WriteMissingResult(lane, end);
    char secs[32];
    snprintf(secs, sizeof secs, "%.1f s", end.seconds);
    const std::string code = " (exit code " + std::to_string(end.exitCode) + ")";
    if (!m_o.loop) {
        Say(lane.port, "Result: " + end.verdict.reason + code + " after " + secs);
        return;
    }
    switch (end.verdict.kind) {
    case RunKind::PortGone:
        Say(lane.port, "The port is gone or could not be opened; waiting for it to come back.");
        return;
    case RunKind::Fatal:
        Say(lane.port, "Station stopped on this port: " + end.verdict.reason + code);
        return;
    case RunKind::NoBox:
        return;
    case RunKind::Passed:
    case RunKind::Failed:
        break;
    }
    const bool pass = end.verdict.kind == RunKind::Passed;
    Say(lane.port, "Box " + std::to_string(lane.boxes) + ": " + (pass ? "PASS" : "FAIL") + " (" + end.verdict.reason +
                       ") in " + secs + "; passed " + std::to_string(lane.passed) + ", failed " +
                       std::to_string(lane.failed));
}

void TerminalStation::Redraw(bool force)
{
    if (!LiveLinesOnTerminal())
        return;
    if (!force && std::chrono::duration<double, std::milli>(Clock::now() - m_lastDraw).count() < kRedrawMs)
        return;
    m_lastDraw = Clock::now();
    std::vector<std::string> lines;
    for (const Lane& l : m_station.Lanes()) {
        char buf[256];
        std::string eta = "--:--";
        if (l.rate > 0 && l.size > l.bytes) {
            uint64_t s = (l.size - l.bytes) / l.rate;
            char e[16];
            snprintf(e, sizeof e, "%02u:%02u", unsigned(s / 60 % 100), unsigned(s % 60));
            eta = e;
        }
        snprintf(buf, sizeof buf, "%-24s %-24s %3d%% %7.1f KiB/s  left %s", l.port.c_str(),
                 StateText(l, m_o.loop).c_str(), l.percent, double(l.rate) / 1024.0, eta.c_str());
        std::string line = buf;
        if (m_o.loop)
            line += "  boxes " + std::to_string(l.boxes) + " (" + std::to_string(l.passed) + " ok, " +
                    std::to_string(l.failed) + " failed)";
        lines.push_back(line);
    }
    LiveUpdate(lines);
}

int TerminalStation::Summary()
{
    LiveClear();
    const std::vector<Lane>& lanes = m_station.Lanes();
    const StationTotals totals = SumLanes(lanes, m_station.Mode());
    std::string table = "Summary:\n";
    char row[1024];
    int width = 24;
    for (const Lane& l : lanes)
        width = std::max(width, int(l.port.size()));
    if (!m_o.loop) {
        snprintf(row, sizeof row, "  %-*s %-22s %10s %8s %4s\n", width, "PORT", "RESULT", "BYTES", "SECONDS", "EXIT");
        table += row;
        for (const Lane& l : lanes) {
            snprintf(row, sizeof row, "  %-*s %-22s %10llu %8.1f %4d\n", width, l.port.c_str(),
                     l.lastReason.empty() ? ExitReason(l.lastExit, m_station.Mode().image) : l.lastReason.c_str(),
                     (unsigned long long)l.lastBytes, l.lastSeconds, l.lastExit);
            table += row;
        }
    } else {
        snprintf(row, sizeof row, "  %-*s %6s %6s %6s  %s\n", width, "PORT", "BOXES", "PASSED", "FAILED", "LAST");
        table += row;
        for (const Lane& l : lanes) {
            snprintf(row, sizeof row, "  %-*s %6d %6d %6d  %s\n", width, l.port.c_str(), l.boxes, l.passed, l.failed,
                     l.fatal   ? l.lastReason.c_str()
                     : l.boxes ? (l.failed ? "had failures" : "all passed")
                               : "no box");
            table += row;
        }
    }
    // A station that lost its record ended for that: it has not passed.
    const bool recordLost = m_o.loop && m_logFailed;
    const bool allGood = totals.failedPorts.empty() && !recordLost;
    if (!totals.failedPorts.empty()) {
        table += m_o.loop ? "Some boxes failed, on:" : "Some ports failed:";
        for (const std::string& p : totals.failedPorts)
            table += " " + p;
        table += "\n";
    } else if (m_o.loop && totals.boxes == 0 && !recordLost) {
        // Nothing failed, but nothing passed either: a station that saw no
        // box must not read as a good shift.
        table += "No box was counted.\n";
    } else if (!recordLost) {
        table += m_o.loop ? "Every box passed.\n" : "Every port succeeded.\n";
    }
    size_t from = 0, nl;
    while ((nl = table.find('\n', from)) != std::string::npos) {
        Record("-", table.substr(from, nl - from));
        from = nl + 1;
    }
    // Said after the table went to the file, so the count includes it.
    if (LogFileLostLines() > 0)
        table += LogFileIncompleteText() + "\n";
    if (recordLost)
        table += "The station stopped: it must not run without its log file.\n";
    fputs(table.c_str(), stderr);
    return allGood ? EXIT_SENT : EXIT_SOME_FAILED;
}

int TerminalStation::Run()
{
    for (;;) {
        // A station ends when its log file fails: a line must not run
        // without its record. Several ports once finish their downloads.
        const bool recordLost = m_o.loop && m_logFailed;
        if ((StopRequested() || recordLost) && !m_station.Stopping()) {
            m_station.Stop();
            const char* why = StopRequested() ? "Stopping every port" : "The log file failed: stopping the station";
            LivePrint(LocalClockText(time(nullptr)) + "  " + why + " and waiting for the downloads to end.");
        }
        if (!m_station.Step(kRedrawMs))
            break;
        Redraw(false);
    }
    return Summary();
}

}  // namespace

int RunProductionLine(const DownloadOptions& options)
{
    LiveLinesInit();
    if (!StopSignalsInstall()) {
        fprintf(stderr, "marbrix-cli: can't set up signal handling\n");
        return EXIT_INCOMPLETE;
    }
    if (!options.logFile.empty()) {
        std::string why;
        if (!LogFileOpen(options.logFile, &why)) {
            fprintf(stderr, "%s  Can't open the log file %s: %s\n", LocalClockText(time(nullptr)).c_str(),
                    options.logFile.c_str(), why.c_str());
            return EXIT_FILE;
        }
    }
    // An adapter that is not there is an error up front, unless the station
    // is to wait for it; several that match never are one to pick.
    for (const std::string& port : options.ports) {
        std::string path, why;
        if (IsUsbIdentity(port) && !ResolveUsbPort(port, &path, &why) &&
            (!options.loop || why.compare(0, 3, "no ") != 0)) {
            fprintf(stderr, "marbrix-cli: %s\n", why.c_str());
            return EXIT_USAGE;
        }
    }
    // The children's pipes are drained whatever this process's stdout does.
    StdoutWriterStart();
    TerminalStation station(options);
    const int rc = station.Run();
    EndLineOutput(options.json);
    return rc;
}
