// SPDX-License-Identifier: MIT
// The bytes with a meaning on the line to the box, in one place: the frames
// of its command protocol and YMODEM's control bytes. The simulator keeps
// its own names for them, so that it checks the engine against the
// protocol rather than against itself.
#pragma once

#include <cstdint>

// A command frame, either way: FRAME_STX, a code, the code's parameters,
// FRAME_ETX.
constexpr uint8_t FRAME_STX = 0x02;
constexpr uint8_t FRAME_ETX = 0x03;

// The box's commands.
enum : uint8_t {
    STB_START = 0x01,        // a served download's opening
    STB_DATA_REQ = 0x02,     // DATA_REQ_PARAMS bytes: length (16 bits), offset (32 bits), little-endian
    STB_TIME_REQ = 0x03,     // answered with the time reply under the same code
    DATA_DL_START = 0xAA,    // an image download's opening
    DATA_DL_SERVICE = 0xB0,  // answered with the service word, then the image by YMODEM
};
constexpr int DATA_REQ_PARAMS = 6;

// The answers that are not data: STB_START is answered under its own code
// with this one byte (VUMO_START); DATA_DL_START with a frame of its own.
constexpr uint8_t VUMO_START_PAYLOAD = 0x0A;
constexpr uint8_t DATA_DL_START_REP = 0xAB;
constexpr uint8_t DATA_DL_START_PAYLOAD = 0xAC;

// YMODEM, sender's side: a block starts with SOH (128 bytes) or STX (1024);
// the receiver paces the transfer with 'C', ACK, NAK and CAN.
enum : uint8_t {
    YM_SOH = 0x01,
    YM_STX = 0x02,
    YM_EOT = 0x04,
    YM_ACK = 0x06,
    YM_NAK = 0x15,
    YM_CAN = 0x18,
    YM_CRC = 0x43,  // 'C': send, with CRC-16
};
