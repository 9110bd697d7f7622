// SPDX-License-Identifier: MIT
// Resource identifiers of the console: dialogs, strings, the icon and the
// controls of the main dialog.
#pragma once

#include "win_types.h"

constexpr int IDM_ABOUTBOX = 0x0010;
constexpr int IDD_ABOUTBOX = 100;
constexpr int IDS_ABOUTBOX = 101;
constexpr int IDD_MAIN = 102;
constexpr int IDR_MAINFRAME = 128;

// IDOK and IDCANCEL: as win_types.h gives them.
constexpr int IDC_STATIC = -1;

constexpr int IDC_PORT = 1000;
constexpr int IDC_BAUD = 1001;
constexpr int IDC_CONNECT = 1005;
constexpr int IDC_LOG = 1006;
constexpr int IDC_LINK = 1008;
constexpr int IDC_PROGRESS = 1011;
constexpr int IDC_START = 1013;
constexpr int IDC_FILE = 1016;
constexpr int IDC_BROWSE = 1017;
constexpr int IDC_STATUS = 1020;

// The string table: only the About entry of the window menu lives there.
const char* LoadResourceString(int id);
