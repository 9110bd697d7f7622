// SPDX-License-Identifier: MIT
// Session protocol with the set-top box: framed commands in, answers out.
#pragma once

#include <cstdint>

enum : uint8_t {
    STB_START = 0x01,
    STB_DATA_REQ = 0x02,
    STB_TIME_REQ = 0x03,
    DATA_DL_START = 0xAA,
    DATA_DL_SERVICE = 0xB0,
};

constexpr uint8_t FRAME_STX = 0x02;
constexpr uint8_t FRAME_ETX = 0x03;
constexpr int SESSION_PIECE = 256;  // bytes written per drain of the transmit queue

int RunSession();
int ReceiveCommand(uint8_t* code, uint8_t* params);
int SendFrame(uint8_t code, const uint8_t* payload, int length);
int SendImageChunk(uint32_t offset, uint16_t length);
