// SPDX-License-Identifier: MIT
// Reads a YMODEM-1K transfer back from the bytes the engine wrote and the
// bytes the box sent, and says whether calling it sent was honest: block 0
// answered with ACK and 'C', every data block answered with an ACK that
// arrived after the block's last byte went out and before the next send,
// the blocks carrying exactly the image, then EOT (and the closing block 0
// when the box asked for it). A byte that was already on the line when a
// block went out is never that block's answer, however the engine read it.
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
