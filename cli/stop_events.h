// SPDX-License-Identifier: MIT
// How the operator's stop reaches a running download, and the guard that
// bounds the time from a stop to the end of the process.
//
// POSIX: SIGINT and SIGTERM, through a self-pipe. Windows: Ctrl-C,
// Ctrl-Break and the closing of the console window, through the console's
// control handler (which runs on a thread of its own).
#pragma once

// Sets up the wake-ups, the handlers and the guard thread. `guardExpired`
// runs on the guard thread `guardMs` after the guard was armed and must end
// the process without taking any lock. False when nothing could be set up.
bool StopEventsInit(void (*guardExpired)(), int guardMs);
// True once the operator asked to stop.
bool StopSignalled();
// Cuts the main thread's wait short; safe from any thread.
void StopWake();
// Starts the guard's clock (once a stop has begun); safe from any thread.
void StopArmGuard();
// Waits up to waitMs for a wake-up (a stop, a StopWake).
void StopWaitForWake(int waitMs);
// Tells the handler of a closing console window that the download has been
// wound up, so it may let the system end the process.
void StopFinished();

// Threads started between these two calls never take the stop signals: they
// keep reaching the main thread and never interrupt the engine's system
// calls. Nothing to do on Windows.
void StopSignalsBlock();
void StopSignalsRestore();

// Ends the process at once with `code`: no atexit work, no stdio flush (a
// stuck worker may hold a stream's lock).
[[noreturn]] void ExitAtOnce(int code);
