// SPDX-License-Identifier: MIT
// IDR_MAINFRAME as a Win32 icon, drawn at run time from the shapes of
// app_icon.h, so the window, the task bar and the About box show the one
// picture the other window system draws too.
#pragma once

#include "win_types.h"

// A size x size icon (32 and 16 for ICON_BIG and ICON_SMALL); the caller
// destroys it with DestroyIcon. Null if GDI refused.
HICON CreateMainFrameIcon(int size);
