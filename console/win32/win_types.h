// SPDX-License-Identifier: MIT
// The Windows types and message numbers the dialog layer speaks: on Windows
// the system's own, in their UTF-16 form. The Qt build has its own
// win_types.h (console/qt/) with the same names for the same values, so the
// handlers read alike on both window systems.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#include <windows.h>
#include <commctrl.h>
