// SPDX-License-Identifier: MIT
// The time stamp of every event: ISO 8601, local time to the millisecond,
// with the offset in effect ("2024-05-01T09:30:12.345+02:00").
#pragma once

#include <string>

std::string IsoTimeNow();
