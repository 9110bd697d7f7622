// SPDX-License-Identifier: MIT
// The dialog's private messages, posted by the engine's sinks from the
// worker thread and handled on the user-interface thread in posting order.
#pragma once

#include "cstring.h"
#include "engine.h"
#include "win_types.h"

#include <cstdint>

// wParam, lParam: 0. One line of the engine's mailbox per message (see
// TakeEngineLine), so no line is lost or shown twice when the worker logs
// faster than the dialog reads.
constexpr UINT WM_ENGINE_LOG = WM_USER + 100;
// wParam: nonzero when the download ended because the port is gone.
constexpr UINT WM_ENGINE_DONE = WM_USER + 101;
// wParam: the progress bar's new position.
constexpr UINT WM_ENGINE_PROGRESS = WM_USER + 102;

struct EngineLine {
    CString text;
    uint8_t level = LOG_INFO;
    // The line that ended the download because the port is gone, with the
    // system's words for it. Taken on the worker when the line was logged,
    // so a later Start (which clears the engine's verdict) cannot hide it.
    bool bPortLost = false;
    CString strLostReason;
};

// The oldest line not yet shown; false when none waits. Called once per
// WM_ENGINE_LOG on the user-interface thread.
bool TakeEngineLine(EngineLine* line);
// Drops what is waiting (the dialog is going).
void DropEngineLines();
