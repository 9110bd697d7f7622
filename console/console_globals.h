// SPDX-License-Identifier: MIT
// The console's process-wide state, shared by the dialog's handlers and read
// by the engine's sinks on the worker thread.
#pragma once

#include "dialog_base.h"
#include "port_line.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>

class CDownloadEngine;

extern PortHandle g_hPort;          // the open port; meaningful while g_bConnected
extern uint8_t g_bConnected;        // 1 while the port is open
extern uint8_t g_bDownloading;      // 1 while a download runs
extern FILE* g_pDownloadFile;       // the file handed to the running download
extern uint8_t g_bImageMode;        // 1 when the chosen file is an image file
extern CDownloadEngine* g_pEngine;  // the one engine object, never destroyed

// The main dialog, target of the engine's notifications. The sinks post to it
// under g_mainWndLock, so the dialog can withdraw itself before it goes away
// while a worker may still be logging. The lock also guards the mailbox of
// log lines that travel with the notifications.
extern DialogHandle g_hMainWnd;
extern std::mutex g_mainWndLock;
