// SPDX-License-Identifier: MIT
// What a lane's tile shows: from the lane's typed state alone, one word and
// one colour an operator reads from across the bench.
#pragma once

#include "lane.h"
#include "tile_grid.h"

#include <string>
#include <vector>

enum class TileLook { Waiting, Sending, Pass, Fail, NoPort, Stopped };

TileLook LaneLook(const Lane& lane);

// A lane's boxes as the window counts them: station mode keeps counts; one
// download per port counts its one box once it has ended.
struct LaneCount {
    int passed = 0, failed = 0;
};
LaneCount CountLane(const Lane& lane);
LaneCount CountLanes(const std::vector<Lane>& lanes);
// The tile's title is the port's short name (serial_port.h); adapter: the
// port's usb identity, empty when unknown.
TileContent LaneTile(const Lane& lane, const std::string& adapter);
