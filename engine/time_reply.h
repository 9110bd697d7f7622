// SPDX-License-Identifier: MIT
// Time reply: the 40-bit UTC_time form of DVB service information,
// a 16-bit MJD and BCD hours, minutes and seconds.
#pragma once

#include <cstdint>
#include <ctime>

// Where the engine takes the current time from; tests put a fixed clock here.
extern time_t (*g_pfnEngineClock)(time_t*);

constexpr int TIME_REPLY_BYTES = 5;

// Fills the payload from a UTC broken-down time. Always 0.
int BuildTimeReply(const struct tm* utc, uint8_t payload[TIME_REPLY_BYTES]);
// Sends the reply frame (command 3). 0 sent; 1 the time could not be had.
int SendTimeReply();
