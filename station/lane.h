// SPDX-License-Identifier: MIT
// One port of the station: where it stands, what its current download has
// shown, and what its boxes scored. The controller keeps one per port and
// hands it to the front end to draw; nothing in it is text to be parsed.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

using StationClock = std::chrono::steady_clock;

enum class LaneState {
    Starting,              // nothing started yet
    OpeningPort,           // its download process runs; the port is not open yet
    WaitingForBox,         // the port is open, no box has spoken
    BoxTalking,            // the box has spoken
    Sending,               // the box acknowledges blocks
    EngineDone,            // the download's closing line came (stateText), its end follows
    WaitingForPort,        // station: the port is not there (yet, or again)
    Passed,                // station: the last box passed; waiting for the next (or done: its boxes are in)
    Failed,                // station: the last box failed; waiting for the next (or done)
    FailedWaitingForPort,  // station: the last box failed and took its port with it
    Ended,                 // one download per port: it ended (stateText: the reason)
    StoppedOnPort,         // station: no further box on this port (stateText: the reason)
};

struct Lane {
    std::string port;     // as the operator named it
    std::string adapter;  // the USB adapter's usb:VID:PID[:SERIAL] (StationConfig::adapterOf); empty: unknown
    LaneState state = LaneState::Starting;
    std::string stateText;  // the closing line or the reason, for the states that carry one
    bool running = false;   // its download process runs

    // The current run (one download process).
    int box = 0;                 // station mode: the number this run's box would get; else 0
    bool started = false;        // the port is open and the file loaded ("start")
    bool boxTalked = false;      // the box was heard, or acknowledged a block
    bool transferBegun = false;  // the box's download-start was answered, or a block acknowledged
    bool resultSeen = false;     // the download process wrote its result
    bool timeLimitHit = false;   // station mode: asked to stop for the box's time limit
    int percent = 0;
    uint64_t bytes = 0;  // acknowledged by the box
    uint64_t size = 0;   // of what is sent; 0 until known
    uint64_t rate = 0;   // bytes/s since the first block
    std::string sha256;  // of the image as sent, from "start"; empty until known
    StationClock::time_point spawnedAt, startedAt, boxSince;

    // What it scored. One download per port: the last run; station mode: boxes.
    int boxes = 0, passed = 0, failed = 0;
    int lastExit = -1;
    bool lastOk = false;
    std::string lastReason;
    uint64_t lastBytes = 0;
    double lastSeconds = 0;
    bool done = false;   // no further runs on this port
    bool fatal = false;  // ended for a reason no box can mend (the file, the command line)
};
