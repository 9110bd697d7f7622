// SPDX-License-Identifier: MIT
// UTF-8 <-> UTF-16 at the edge of the Win32 calls (cstring_win32.cpp); only
// the Win32 side includes it.
#pragma once

#include "cstring.h"

#include <string>

std::wstring ToWide(const CString& s);
CString FromWide(const wchar_t* s);
