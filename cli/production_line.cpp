// SPDX-License-Identifier: MIT
#include "production_line.h"

#include "box_verdict.h"
#include "child_process.h"
#include "event_fields.h"
#include "exit_codes.h"
#include "json_events.h"
#include "live_lines.h"
#include "local_time.h"
#include "log_file.h"
#include "single_port.h"
#include "stdout_end.h"
#include "stdout_writer.h"
#include "usb_identity.h"
#include "wait_port.h"

#include "serial_port.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// A child ends within about 2 s of the stop; past this it is stuck.
constexpr int kStuckChildMs = 6000;
// A port that could not be opened (held, gone again) is tried this often.
constexpr int kRetryPortMs = 1000;
constexpr int kRedrawMs = 200;

struct Lane {
    std::string port;  // as given on the command line
    ChildHandle child;
    bool running = false;
    std::string pending;  // an event line not yet complete
    std::string chatter;  // the box's console text not yet a whole line
    // The current run.
    Clock::time_point spawnedAt, startedAt;
    int box = 0;                 // station mode: the number this run's box would get
    bool started = false;        // "start" seen: the port is open
    bool boxTalked = false;      // the box has said something in this run
    Clock::time_point boxSince;  // when it first did
    bool transferBegun = false;  // the box opened the transfer (its handshake) or acknowledged a block
    bool resultSeen = false;     // the child wrote its result event
    bool timeLimitHit = false;
    int percent = 0;
    uint64_t bytes = 0, size = 0, rate = 0;
    std::string state = "starting";
    // Results.
    int boxes = 0, passed = 0, failed = 0;
    int lastExit = -1;
    bool lastOk = false;
    std::string lastReason;
    uint64_t lastBytes = 0;
    double lastSeconds = 0;
    bool done = false;   // no further runs on this port
    bool fatal = false;  // ended for a reason no box can mend (file, usage)
    Clock::time_point nextTry = Clock::now();
};

std::string LocalClock()
{
    tm local = LocalTime(time(nullptr));
    char buf[16];
    strftime(buf, sizeof buf, "%H:%M:%S", &local);
    return buf;
}

double Seconds(Clock::time_point from)
{
    return std::chrono::duration<double>(Clock::now() - from).count();
}

class Line {
public:
    Line(const DownloadOptions& o) : m_o(o), m_image(DownloadIsImage(o)), m_exe(SelfExecutable())
    {
        for (const std::string& p : o.ports) {
            Lane lane;
            lane.port = p;
            m_lanes.push_back(lane);
        }
    }

    int Run();

private:
    void Say(const std::string& port, const std::string& text)
    {
        LivePrint("[" + port + "] " + LocalClock() + "  " + text);
        Record(port, text);
    }
    // A line for the log file alone; the first one it does not take is said
    // at once (and, in station mode, ends the station).
    void Record(const std::string& port, const std::string& text)
    {
        if (LogFileWrite(port, text) == LogFileWritten::FirstFailure) {
            m_logFailed = true;
            LivePrint(LocalClock() + "  " + LogFileFailureText());
        }
    }
    void WriteMissingResult(Lane& lane, int exitCode);
    void Spawn(Lane& lane);
    void Pump(Lane& lane);
    void OnEvent(Lane& lane, const std::string& line);
    void FlushChatter(Lane& lane, bool all);
    void Finish(Lane& lane, int exitCode);
    void Redraw(bool force);
    int Summary();

    const DownloadOptions& m_o;
    const bool m_image;
    const std::string m_exe;
    std::vector<Lane> m_lanes;
    bool m_stopping = false;
    bool m_logFailed = false;
    Clock::time_point m_lastDraw;
};

void Line::Spawn(Lane& lane)
{
    std::vector<std::string> argv = {
        m_exe, "-p", lane.port, "-b", std::to_string(m_o.baud), m_image ? "--image" : "--served"};
    char num[32];
    // In station mode the time limit is the box's, from its first word: the
    // line keeps that clock itself (a port may wait long for its next box).
    if (m_o.timeoutSec > 0 && !m_o.loop) {
        snprintf(num, sizeof num, "%.17g", m_o.timeoutSec);
        argv.insert(argv.end(), {"--timeout", num});
    }
    // In station mode the line itself waits for a port to come back.
    if (m_o.waitPortSec > 0 && !m_o.loop) {
        snprintf(num, sizeof num, "%.17g", m_o.waitPortSec);
        argv.insert(argv.end(), {"--wait-port", num});
    }
    argv.insert(argv.end(), {"--json", "--", m_o.file});
    std::vector<std::string> env = {std::string(kChildEnv) + "=1"};
    lane.box = m_o.loop ? lane.boxes + 1 : 0;
    if (m_o.loop)
        env.push_back(std::string(kBoxEnv) + "=" + std::to_string(lane.box));
    std::string why;
    lane.started = lane.boxTalked = lane.transferBegun = lane.resultSeen = lane.timeLimitHit = false;
    lane.percent = 0;
    lane.bytes = lane.size = lane.rate = 0;
    lane.pending.clear();
    lane.spawnedAt = lane.startedAt = Clock::now();
    if (!ChildSpawn(argv, env, &lane.child, &why)) {
        Say(lane.port, "Can't start the download process: " + why);
        lane.lastExit = EXIT_INCOMPLETE;
        lane.lastReason = ExitReason(EXIT_INCOMPLETE, m_image);
        lane.done = lane.fatal = true;
        return;
    }
    lane.running = true;
    lane.state = "opening the port";
}

void Line::FlushChatter(Lane& lane, bool all)
{
    size_t nl;
    std::string out;
    while ((nl = lane.chatter.find('\n')) != std::string::npos) {
        out += "[" + lane.port + "] " + lane.chatter.substr(0, nl + 1);
        lane.chatter.erase(0, nl + 1);
    }
    if (all && !lane.chatter.empty()) {
        out += "[" + lane.port + "] " + lane.chatter + "\n";
        lane.chatter.clear();
    }
    if (!out.empty())
        StdoutWrite(out, StdoutClass::Droppable);
}

void Line::OnEvent(Lane& lane, const std::string& line)
{
    const bool talkedBefore = lane.boxTalked;
    if (m_o.json)
        JsonForwardLine(line);
    std::map<std::string, std::string> f;
    if (!ParseEventFields(line, &f))
        return;
    const std::string& kind = f["event"];
    if (kind == "start") {
        lane.started = true;
        lane.startedAt = Clock::now();
        lane.size = strtoull(f["size"].c_str(), nullptr, 10);
        lane.state = m_o.loop ? "waiting for a box" : "waiting for the box";
    } else if (kind == "log") {
        const std::string& text = f["text"];
        Say(lane.port, text);
        if (f["level"] == "done")
            lane.state = text.substr(0, 24);
        // Lines of what the box sent: a box is there.
        if (text.compare(0, 9, "[VUMO] =>") == 0 || text.compare(0, 3, "==>") == 0 ||
            text.compare(0, 20, "[VUMO] Unknown STB c") == 0) {
            lane.boxTalked = true;
            lane.state = "box talking";
        }
        // The box's download-start frame, answered: from here on it expects
        // an image. The engine tells the handshake by this line alone; the
        // progress events below tell every acknowledged block.
        if (text == "==>DATA_DL_START")
            lane.transferBegun = true;
    } else if (kind == "result") {
        lane.resultSeen = true;
    } else if (kind == "progress") {
        lane.boxTalked = lane.transferBegun = true;
        lane.percent = atoi(f["percent"].c_str());
        lane.bytes = strtoull(f["bytes"].c_str(), nullptr, 10);
        lane.rate = strtoull(f["rate"].c_str(), nullptr, 10);
        lane.state = "sending";
    }
    if (lane.boxTalked && !talkedBefore)
        lane.boxSince = Clock::now();
    if (kind == "box-output") {
        // Chatter alone proves no box: the last one may still be saying
        // goodbye on a port just opened again.
        if (!m_o.json) {
            lane.chatter += f["data"];
            FlushChatter(lane, false);
        }
    }
}

void Line::Pump(Lane& lane)
{
    char buf[16384];
    long n;
    while ((n = ChildRead(&lane.child, buf, sizeof buf)) > 0) {
        lane.pending.append(buf, size_t(n));
        size_t nl;
        while ((nl = lane.pending.find('\n')) != std::string::npos) {
            std::string line = lane.pending.substr(0, nl);
            lane.pending.erase(0, nl + 1);
            OnEvent(lane, line);
        }
    }
}

// A child that ended without its result event (killed, crashed, gone
// without its stuck engine) gets one from here, so that a reader of the
// events sees every run of every port end.
void Line::WriteMissingResult(Lane& lane, int exitCode)
{
    EventObject event;
    event["event"] = "result";
    event["time"] = IsoTimeNow();
    event["port"] = lane.port;
    if (lane.box > 0)
        event["box"] = lane.box;
    event["ok"] = false;
    event["reason"] = std::string(kEndedAbnormally);
    event["exit_code"] = exitCode;
    event["seconds"] = Seconds(lane.started ? lane.startedAt : lane.spawnedAt);
    // Through the same path as the child's own events.
    OnEvent(lane, EventText(event));
}

void Line::Finish(Lane& lane, int exitCode)
{
    lane.running = false;
    FlushChatter(lane, true);
    const bool resultSeen = lane.resultSeen;
    if (!resultSeen)
        WriteMissingResult(lane, exitCode);
    const double seconds = Seconds(lane.started ? lane.startedAt : lane.spawnedAt);
    char secs[32];
    snprintf(secs, sizeof secs, "%.1f s", seconds);
    const std::string code = " (exit code " + std::to_string(exitCode) + ")";
    if (!m_o.loop) {
        lane.done = true;
        lane.lastExit = exitCode;
        lane.lastOk = exitCode == EXIT_SENT && resultSeen;
        lane.lastReason = resultSeen ? ExitReason(exitCode, m_image) : kEndedAbnormally;
        lane.lastBytes = lane.lastOk && m_image ? lane.size : lane.bytes;
        lane.lastSeconds = seconds;
        lane.state = lane.lastReason;
        Say(lane.port, "Result: " + lane.lastReason + code + " after " + secs);
        return;
    }
    // Station mode: what counts as a box, and whether the port carries on.
    RunFacts facts;
    facts.exitCode = exitCode;
    facts.image = m_image;
    facts.resultSeen = resultSeen;
    facts.boxTalked = lane.boxTalked;
    facts.transferBegun = lane.transferBegun;
    const RunVerdict verdict = StationVerdict(facts);
    lane.lastExit = exitCode;
    // A child that did not end on its own account is not started again at
    // once: one that fails at its start would otherwise be started in a loop.
    if (!resultSeen)
        lane.nextTry = Clock::now() + std::chrono::milliseconds(kRetryPortMs);
    switch (verdict.kind) {
    case RunKind::PortGone:
        // The port went away (or could not be opened) before any transfer:
        // no box, wait for it.
        lane.state = "waiting for the port";
        Say(lane.port, "The port is gone or could not be opened; waiting for it to come back.");
        lane.nextTry = Clock::now() + std::chrono::milliseconds(kRetryPortMs);
        return;
    case RunKind::Fatal:
        lane.done = lane.fatal = true;
        lane.lastReason = verdict.reason;
        lane.state = verdict.reason;
        Say(lane.port, "Station stopped on this port: " + verdict.reason + code);
        return;
    case RunKind::NoBox:
        lane.state = "waiting for a box";
        return;
    case RunKind::Passed:
    case RunKind::Failed:
        break;
    }
    const bool pass = verdict.kind == RunKind::Passed;
    ++lane.boxes;
    (pass ? lane.passed : lane.failed) += 1;
    lane.lastOk = pass;
    lane.lastReason = verdict.reason;
    lane.lastBytes = pass ? lane.size : lane.bytes;
    lane.lastSeconds = seconds;
    lane.state = std::string(pass ? "passed" : "FAILED") + ", next box";
    Say(lane.port, "Box " + std::to_string(lane.boxes) + ": " + (pass ? "PASS" : "FAIL") + " (" + verdict.reason +
                       ") in " + secs + "; passed " + std::to_string(lane.passed) + ", failed " +
                       std::to_string(lane.failed));
    // A box whose line was lost took its port with it, as a rule (an adapter
    // powered by the box): wait for the port as between boxes.
    if (exitCode == EXIT_PORT) {
        lane.state = "FAILED, waiting for the port";
        lane.nextTry = Clock::now() + std::chrono::milliseconds(kRetryPortMs);
    }
}

void Line::Redraw(bool force)
{
    if (!LiveLinesOnTerminal())
        return;
    if (!force && Seconds(m_lastDraw) * 1000 < kRedrawMs)
        return;
    m_lastDraw = Clock::now();
    std::vector<std::string> lines;
    for (const Lane& l : m_lanes) {
        char buf[256];
        std::string eta = "--:--";
        if (l.rate > 0 && l.size > l.bytes) {
            uint64_t s = (l.size - l.bytes) / l.rate;
            char e[16];
            snprintf(e, sizeof e, "%02u:%02u", unsigned(s / 60 % 100), unsigned(s % 60));
            eta = e;
        }
        snprintf(buf, sizeof buf, "%-24s %-24s %3d%% %7.1f KiB/s  left %s", l.port.c_str(), l.state.c_str(),
                 l.percent, double(l.rate) / 1024.0, eta.c_str());
        std::string line = buf;
        if (m_o.loop)
            line += "  boxes " + std::to_string(l.boxes) + " (" + std::to_string(l.passed) + " ok, " +
                    std::to_string(l.failed) + " failed)";
        lines.push_back(line);
    }
    LiveUpdate(lines);
}

int Line::Summary()
{
    LiveClear();
    bool allGood = true;
    std::vector<std::string> failedPorts;
    std::string table = "Summary:\n";
    char row[1024];
    int width = 24;
    for (const Lane& l : m_lanes)
        width = std::max(width, int(l.port.size()));
    if (!m_o.loop) {
        snprintf(row, sizeof row, "  %-*s %-22s %10s %8s %4s\n", width, "PORT", "RESULT", "BYTES", "SECONDS", "EXIT");
        table += row;
        for (const Lane& l : m_lanes) {
            snprintf(row, sizeof row, "  %-*s %-22s %10llu %8.1f %4d\n", width, l.port.c_str(),
                     l.lastReason.empty() ? ExitReason(l.lastExit, m_image) : l.lastReason.c_str(),
                     (unsigned long long)l.lastBytes, l.lastSeconds, l.lastExit);
            table += row;
            if (!l.lastOk)
                failedPorts.push_back(l.port);
        }
    } else {
        snprintf(row, sizeof row, "  %-*s %6s %6s %6s  %s\n", width, "PORT", "BOXES", "PASSED", "FAILED", "LAST");
        table += row;
        for (const Lane& l : m_lanes) {
            snprintf(row, sizeof row, "  %-*s %6d %6d %6d  %s\n", width, l.port.c_str(), l.boxes, l.passed, l.failed,
                     l.fatal   ? l.lastReason.c_str()
                     : l.boxes ? (l.failed ? "had failures" : "all passed")
                               : "no box");
            table += row;
            if (l.failed > 0 || l.fatal)
                failedPorts.push_back(l.port);
        }
    }
    // A station that lost its record ended for that: it has not passed.
    const bool recordLost = m_o.loop && m_logFailed;
    allGood = failedPorts.empty() && !recordLost;
    if (!failedPorts.empty()) {
        table += m_o.loop ? "Some boxes failed, on:" : "Some ports failed:";
        for (const std::string& p : failedPorts)
            table += " " + p;
        table += "\n";
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

int Line::Run()
{
    bool stopKilled = false;
    Clock::time_point stopAt;
    for (;;) {
        // A station ends when its log file fails: a line must not run
        // without its record. Several ports once finish their downloads.
        const bool recordLost = m_o.loop && m_logFailed;
        if ((StopRequested() || recordLost) && !m_stopping) {
            m_stopping = true;
            stopAt = Clock::now();
            // The children may have had the signal already (a Ctrl-C reaches
            // the whole process group); a second one does no harm.
            for (Lane& l : m_lanes)
                if (l.running)
                    ChildAskToStop(l.child);
            const char* why = StopRequested() ? "Stopping every port" : "The log file failed: stopping the station";
            LivePrint(LocalClock() + "  " + why + " and waiting for the downloads to end.");
        }
        if (!m_stopping) {
            for (Lane& l : m_lanes) {
                if (l.running || l.done || Clock::now() < l.nextTry)
                    continue;
                if (m_o.loop) {
                    std::string path = ResolvePortPath(l.port);
                    if (path.empty() || !PortPathPresent(path)) {
                        l.state = "waiting for the port";
                        l.nextTry = Clock::now() + std::chrono::milliseconds(200);
                        continue;
                    }
                }
                Spawn(l);
            }
        }
        bool anyRunning = false, allDone = true;
        for (const Lane& l : m_lanes) {
            anyRunning = anyRunning || l.running;
            allDone = allDone && l.done;
        }
        if (!anyRunning && (m_stopping || allDone))
            break;
        Redraw(false);
        std::vector<ChildHandle*> children;
        for (Lane& l : m_lanes)
            if (l.running)
                children.push_back(&l.child);
        ChildrenWait(children, kRedrawMs);
        for (Lane& l : m_lanes) {
            if (!l.running)
                continue;
            Pump(l);
            int rc = ChildPoll(&l.child);
            if (rc < 0)
                continue;
            Pump(l);  // what it wrote before it ended
            if (!l.pending.empty())
                OnEvent(l, l.pending);
            l.pending.clear();
            char drop[256];
            for (int i = 0; i < 64 && ChildRead(&l.child, drop, sizeof drop) != 0; ++i) {
            }
            Finish(l, rc);
        }
        if (m_o.loop && m_o.timeoutSec > 0 && !m_stopping) {
            for (Lane& l : m_lanes)
                if (l.running && l.boxTalked && !l.timeLimitHit && Seconds(l.boxSince) >= m_o.timeoutSec) {
                    l.timeLimitHit = true;
                    char text[96];
                    snprintf(text, sizeof text, "Time limit of %g s reached for this box, stopping its download.",
                             m_o.timeoutSec);
                    Say(l.port, text);
                    ChildAskToStop(l.child);
                }
        }
        if (m_stopping && !stopKilled && Seconds(stopAt) * 1000 > kStuckChildMs) {
            stopKilled = true;
            for (Lane& l : m_lanes)
                if (l.running) {
                    Say(l.port, "The download process did not end after the stop; killing it.");
                    ChildKill(l.child);
                }
        }
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
            fprintf(stderr, "%s  Can't open the log file %s: %s\n", LocalClock().c_str(), options.logFile.c_str(),
                    why.c_str());
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
    Line line(options);
    const int rc = line.Run();
    EndLineOutput(options.json);
    return rc;
}
