// SPDX-License-Identifier: MIT
// What a lane's tile shows: from the lane's typed state alone, one word and
// one colour an operator reads from across the bench.
#pragma once

#include "lane.h"
#include "tile_grid.h"

enum class TileLook { Waiting, Sending, Pass, Fail, NoPort, Stopped };

TileLook LaneLook(const Lane& lane);

// The tile's title is the port's short name (serial_port.h), under it the
// lane's adapter.
TileContent LaneTile(const Lane& lane);
