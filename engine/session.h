// SPDX-License-Identifier: MIT
// Session protocol with the set-top box: framed commands in, answers out.
#pragma once

#include "protocol_bytes.h"

#include <cstdint>

constexpr int SESSION_PIECE = 256;  // bytes written per drain of the transmit queue

int RunSession();
int ReceiveCommand(uint8_t* code, uint8_t* params);
int SendFrame(uint8_t code, const uint8_t* payload, int length);
int SendImageChunk(uint32_t offset, uint16_t length);
