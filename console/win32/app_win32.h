// SPDX-License-Identifier: MIT
// The program's side of the Win32 console: where its few words go (it is a
// GUI program, so it may have no console at all) and its exit code.
#pragma once

#include "cstring.h"

// Writes to the standard stream when it leads somewhere (a file, a pipe, the
// console it was started from); otherwise, when `boxIfNowhere`, shows the
// text in a message box. False when it went nowhere.
bool WriteStdOut(const CString& text, bool boxIfNowhere = false);
bool WriteStdErr(const CString& text, bool boxIfNowhere = false);

// Set by CLoaderApp::InitInstance: 0, or 1 when a picture asked for on the
// command line could not be taken.
extern int g_nAppExitCode;
