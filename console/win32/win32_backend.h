// SPDX-License-Identifier: MIT
// What the Win32 side of the dialog layer offers beyond CDialog: the
// windows behind a dialog and its controls (for the program's pictures and
// for tests). UTF-8 <-> UTF-16 (ToWide, FromWide) comes with wide_string.h.
#pragma once

#include "cstring.h"
#include "wide_string.h"
#include "win_types.h"

#include <string>

class CDialog;

HWND Win32Window(const CDialog& dlg);
HWND Win32Control(const CDialog& dlg, int nID);
