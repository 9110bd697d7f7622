// YMODEM-1K sender: one file from memory, CRC-16 mode, 1024-byte blocks.
#pragma once

#include <cstdint>

enum : uint8_t {
    YM_SOH = 0x01,
    YM_STX = 0x02,
    YM_EOT = 0x04,
    YM_ACK = 0x06,
    YM_NAK = 0x15,
    YM_CAN = 0x18,
    YM_CRC = 0x43,  // 'C'
};

extern uint8_t g_ymodemBlock[1027];

uint32_t Crc16Update(uint32_t byte, uint32_t crc);
int YmodemMakeBlock(const uint8_t* source, uint8_t* block, int length, uint8_t number);
// watchStop: give up (1) between tries once a stop has been requested. The
// opening block 0 watches; the closing one runs to its end.
int YmodemSendHeader(const char* name, int size, bool watchStop = false);
int YmodemSendBlock(const uint8_t* block, int length);
int YmodemSendEot();
int YmodemSendFile(const char* name, const uint8_t* data, uint32_t size);
