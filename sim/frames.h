// SPDX-License-Identifier: MIT
// Command frames from the box (STX, command, parameters, ETX) and the start
// handshake that opens every download.
#pragma once
#include <cstdint>
#include <vector>

#include "faults.h"
#include "line.h"

namespace stbsim {

// Sends one frame. Console chatter goes before its STX when asked for, and
// the very first frame of the run may first go out with a wrong last byte.
void SendFrame(Line& line, Faults& faults, std::uint8_t command, const std::vector<std::uint8_t>& params = {});

// Sends the start frame every periodMs while a peer holds the line (waiting
// for one when none does) until the answer arrives, then reads on
// until the line has been quiet for 300 ms (answers to the repeated start
// frames are dropped). Returns the number of start frames sent; it only ends
// by the answer or by the run's deadline.
int Handshake(Line& line, Faults& faults, std::uint8_t startCommand, const std::vector<std::uint8_t>& answer,
              int periodMs = 500);

}  // namespace stbsim
