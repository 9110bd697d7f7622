// SPDX-License-Identifier: MIT
// Windows: the system's own words for an error code from GetLastError(), as
// the port backend and the production line's child processes both report
// them. Built on Windows only (system_text_win32.cpp).
#pragma once

#include <string>

// FormatMessage's text for `code` in the ANSI code page, without the trailing
// line break; "error <code>" when the system has no text for it. The type is
// a DWORD's, spelt so that callers need not include <windows.h>.
std::string SystemText(unsigned long code);
