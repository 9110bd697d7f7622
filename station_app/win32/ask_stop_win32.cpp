// SPDX-License-Identifier: MIT
// The question asked before running downloads are cut short, as Windows asks it.
#include "station_dlg.h"
#include "station_template.h"
#include "win32_backend.h"

bool AskStopAndQuitWithBox(CDialog* parent, int running)
{
    HWND owner = parent ? Win32Window(*parent) : nullptr;
    return MessageBoxW(owner, ToWide(StopAndQuitText(running)).c_str(), ToWide(kStationTitle).c_str(),
                       MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION) == IDYES;
}
