// SPDX-License-Identifier: MIT
// YMODEM-1K sender: one file from memory, CRC-16 mode, 1024-byte blocks.
#pragma once

#include "protocol_bytes.h"

#include <cstdint>

extern uint8_t g_ymodemBlock[1027];

uint32_t Crc16Update(uint32_t byte, uint32_t crc);
int YmodemMakeBlock(const uint8_t* source, uint8_t* block, int length, uint8_t number);
// Results of the exchanges below, beyond 0 (done) and 1 (failed).
enum : int {
    YM_RX_CANCELLED = 2,   // the receiver sent CAN where the sender listens for it
    YM_STOPPED = 3,        // the operator's stop, or the port was lost
    YM_NOT_ACKED = 4,      // block 0 answered with NAK or a garbled byte: send it again
    YM_BOX_RESTARTED = 5,  // the box sent its opening frame 02 AA 03 where a 'C' was due
};

// Block 0 with the file name and size. 0 when the receiver acknowledged it
// and then asked for data with 'C'; YM_NOT_ACKED when it answered the block
// with anything but ACK; 1 when no 'C' or no answer came. The closing
// block 0 (`closing`, the empty name) is done once it is acknowledged, and
// a CAN before or after it is the receiver's refusal (YM_RX_CANCELLED).
// The box's opening frame 02 AA 03 during the wait for 'C' ends the wait
// with YM_BOX_RESTARTED.
int YmodemSendHeader(const char* name, int size, bool closing = false);
// 0 acknowledged; 1 cancelled (the receiver's CAN, or ours after the fifth
// NAK); 2 any other reply or none; YM_STOPPED.
int YmodemSendBlock(const uint8_t* block, int length);
// 0 once the end is acknowledged or the NAKs and silences run out;
// YM_RX_CANCELLED when the receiver answers CAN; YM_STOPPED.
int YmodemSendEot();
// 0 when the whole batch is done; YM_BOX_RESTARTED when the box opened the
// session again during a wait for 'C' (the frame is consumed: the caller
// answers it); 1 when the transfer failed otherwise or was stopped.
int YmodemSendFile(const char* name, const uint8_t* data, uint32_t size);
