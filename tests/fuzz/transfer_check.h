// SPDX-License-Identifier: MIT
// Reads a YMODEM-1K transfer back from the bytes the engine wrote and the
// bytes the box sent, both with their ticks, and says whether calling it
// sent was honest: block 0 answered with ACK and 'C', every data block
// answered with ACK after it went out, the blocks carrying exactly the
// image, then EOT (and the closing block 0 when the box asked for it).
#pragma once

#include "box_script.h"

#include <cstdint>
#include <string>
#include <vector>

// "" when the transfer written from `from` on is whole and acknowledged;
// otherwise what is wrong with it.
std::string CheckSentTransfer(const std::vector<TimedByte>& written, size_t from,
                              const std::vector<TimedByte>& arrived, const std::vector<uint8_t>& image,
                              const std::string& name);

