// SPDX-License-Identifier: MIT
#include "lane_tile.h"

#include "serial_port.h"

#include <cstdio>

TileLook LaneLook(const Lane& lane)
{
    switch (lane.state) {
    case LaneState::Starting:
    case LaneState::OpeningPort:
    case LaneState::WaitingForBox:
        return TileLook::Waiting;
    case LaneState::BoxTalking:
    case LaneState::Sending:
    case LaneState::EngineDone:
        return TileLook::Sending;
    case LaneState::WaitingForPort:
    case LaneState::FailedWaitingForPort:
        return TileLook::NoPort;
    case LaneState::Passed:
        return TileLook::Pass;
    case LaneState::Failed:
        return TileLook::Fail;
    case LaneState::Ended:
        return lane.lastOk ? TileLook::Pass : TileLook::Fail;
    case LaneState::StoppedOnPort:
        return TileLook::Stopped;
    }
    return TileLook::Waiting;
}

namespace {

std::string Rate(uint64_t bytesPerSec)
{
    char buf[32];
    if (bytesPerSec >= 10240)
        snprintf(buf, sizeof buf, "%.0f KB/s", bytesPerSec / 1024.0);
    else
        snprintf(buf, sizeof buf, "%.1f KB/s", bytesPerSec / 1024.0);
    return buf;
}

std::string MinSec(double seconds)
{
    const long s = long(seconds + 0.5);
    char buf[32];
    snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    return buf;
}

}  // namespace

TileContent LaneTile(const Lane& lane)
{
    TileContent t;
    t.title = CString(PortShortName(lane.port));
    t.subtitle = CString(lane.adapter);
    std::string detail;
    switch (LaneLook(lane)) {
    case TileLook::Waiting:
        t.word = "WAITING";
        t.back = RGB(200, 200, 200);
        t.fore = RGB(0, 0, 0);
        detail = "for a box";
        break;
    case TileLook::Sending: {
        t.word = "SENDING";
        t.back = RGB(25, 85, 200);
        t.fore = RGB(255, 255, 255);
        char buf[96];
        if (lane.rate > 0 && lane.size > lane.bytes)
            snprintf(buf, sizeof buf, "%d%% %s %s left", lane.percent, Rate(lane.rate).c_str(),
                     MinSec(double(lane.size - lane.bytes) / double(lane.rate)).c_str());
        else
            snprintf(buf, sizeof buf, "%d %%", lane.percent);
        detail = buf;
        break;
    }
    case TileLook::Pass:
        t.word = "PASS";
        t.back = RGB(20, 140, 50);
        t.fore = RGB(255, 255, 255);
        if (lane.lastSeconds > 0)
            detail = "in " + MinSec(lane.lastSeconds);
        break;
    case TileLook::Fail:
        t.word = "FAIL";
        t.back = RGB(200, 30, 30);
        t.fore = RGB(255, 255, 255);
        detail = lane.lastReason.empty() ? lane.stateText : lane.lastReason;
        break;
    case TileLook::NoPort:
        t.word = "NO PORT";
        t.back = RGB(245, 170, 0);
        t.fore = RGB(0, 0, 0);
        detail = lane.boxes > 0 || lane.state == LaneState::FailedWaitingForPort ? "port lost: waiting" : "waiting";
        break;
    case TileLook::Stopped:
        t.word = "STOPPED";
        t.back = RGB(200, 200, 200);
        t.fore = RGB(0, 0, 0);
        detail = lane.stateText;
        break;
    }
    t.lines.push_back(CString(detail));
    char counts[96];
    snprintf(counts, sizeof counts, "%d passed  %d failed", lane.passed, lane.failed);
    t.lines.push_back(CString(counts));
    return t;
}
