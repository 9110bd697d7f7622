// SPDX-License-Identifier: MIT
// Serial link primitives: the engine's only access to the line.
//
// Every wait polls the queue counts and sleeps in ticks of 10 ms; only the
// sleeps are counted, so no tick is spent while bytes are waiting. The wait
// for the transmit queue sleeps only as long as its bytes need at the
// line's rate, and counts that time against its ticks.
#pragma once

#include "port_line.h"

#include <cstdint>

constexpr int PORT_TICK_MS = 10;

uint32_t PortInQueue(PortHandle port);
uint32_t PortRead(PortHandle port, uint8_t* buffer, uint32_t count);
uint32_t PortWrite(PortHandle port, const uint8_t* buffer, uint32_t count);
int PortPutByte(int byte);
int PortWaitFor(PortHandle port, int awaited, int ticks);
uint8_t PortReceiveByte(PortHandle port, int ticks);
int PortGetByte(uint8_t* byte, int ticks);
int PortDrainOutput(PortHandle port, int ticks);
// Throws away what has arrived and not been consumed yet (the read-ahead and
// what the driver holds), without waiting; the count dropped. A sender calls
// it just before it sends something that wants an answer, so the answer it
// reads next cannot be a byte the box sent before it saw the send.
uint32_t PortDiscardInput(PortHandle port);

// Ticks a port must stay gone before the engine calls it lost: one stray
// error never ends a download, a pulled cable ends it at once.
constexpr int PORT_LOST_TICKS = 50;
// True once the session must give up waiting: the operator's stop, or the
// port found lost. Every wait of the serial link looks at it before each
// tick.
bool PortInterrupted();
// Starts the lost-port watch afresh for a new session.
void PortResetLostWatch();
