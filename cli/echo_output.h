// SPDX-License-Identifier: MIT
// The box's console chatter on standard output, without the engine's worker
// ever waiting for whoever reads it. The worker only copies bytes into a
// bounded buffer; a thread of the CLI writes them to fd 1. When the reader
// falls behind by more than the buffer holds (or stdout refuses bytes), the
// rest is dropped and counted.
#pragma once

#include <cstdint>

// Starts the writer. Call with SIGINT and SIGTERM blocked, so they keep
// reaching the main thread. Without a thread every byte is dropped.
void EchoOutputStart();
// The engine's EchoSink: never blocks beyond a short lock.
void EchoOutputSink(const uint8_t* data, uint32_t count);
// Gives the writer up to timeoutMs to empty the buffer, then stops it from
// starting further writes. Returns the bytes that did not reach stdout
// (dropped, or still waiting). Never waits for a write in progress.
uint64_t EchoOutputFinish(int timeoutMs);
