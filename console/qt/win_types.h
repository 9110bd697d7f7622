// SPDX-License-Identifier: MIT
// The Windows types and message numbers the dialog layer speaks, with the
// values Windows gives them, for the Qt build: the handlers are written once
// and read alike on both window systems. The Win32 build takes the system's
// own (console/win32/win_types.h).
#pragma once

#include <cstdint>

using UINT = unsigned int;
using UINT_PTR = uintptr_t;
using INT_PTR = intptr_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using COLORREF = uint32_t;
using BOOL = int;

constexpr COLORREF RGB(unsigned r, unsigned g, unsigned b)
{
    return COLORREF((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr unsigned GetRValue(COLORREF c)
{
    return c & 0xFF;
}
constexpr unsigned GetGValue(COLORREF c)
{
    return (c >> 8) & 0xFF;
}
constexpr unsigned GetBValue(COLORREF c)
{
    return (c >> 16) & 0xFF;
}
constexpr unsigned LOWORD(uintptr_t v)
{
    return unsigned(v & 0xFFFF);
}
constexpr unsigned HIWORD(uintptr_t v)
{
    return unsigned((v >> 16) & 0xFFFF);
}
constexpr WPARAM MAKEWPARAM(unsigned lo, unsigned hi)
{
    return WPARAM((lo & 0xFFFF) | ((hi & 0xFFFF) << 16));
}

constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_SYSCOMMAND = 0x0112;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;
constexpr UINT BN_CLICKED = 0;
constexpr UINT CBN_DROPDOWN = 7;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr COLORREF CLR_DEFAULT = 0xFF000000;
