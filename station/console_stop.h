// SPDX-License-Identifier: MIT
// Windows: what a console control event means for a program that downloads.
// marbrix-cli and the production line's parent both stop on the same events
// and treat a closing console alike, so the list lives once, in
// console_stop_win32.cpp.
#pragma once

enum class ConsoleStop {
    None,     // not a stop: left to the next handler
    Keys,     // Ctrl-C or Ctrl-Break: the operator's stop; the process lives on
    Closing,  // the console window closes, the user logs off or the system shuts
              // down: the system ends the process once the handler returns
};

// The meaning of a console control event (the DWORD a handler receives).
ConsoleStop ConsoleStopOf(unsigned long controlType);
