// SPDX-License-Identifier: MIT
// The station window as a template, at its least size (about 980x490
// pixels); the tiles take whatever the window grows by, the log and the
// status line stay under them. At 1280x800, 32 tiles fit without scrolling.
#include "station_template.h"

#include "station_resource.h"

const DlgTemplate& StationDialogTemplate()
{
    static const DlgTemplate t = {
        IDD_STATION,
        kStationTitle,
        560,
        300,
        "Sans",
        10,
        true,
        true,
        {
            {IDC_ST_PORTS, DlgClass::MenuButton, "Ports", DS_TABSTOP, 6, 5, 44, 15},
            {IDC_ST_FILE_LABEL, DlgClass::Static, "File:", DS_NONE, 58, 8, 20, 10},
            {IDC_ST_FILE, DlgClass::Static, "", DS_SUNKEN | DS_PATH_ELLIPSIS | DS_SIZE_X, 80, 6, 122, 13},
            {IDC_ST_CHOOSE, DlgClass::PushButton, "Choose...", DS_TABSTOP | DS_MOVE_X, 206, 5, 46, 15},
            {IDC_ST_RATE_LABEL, DlgClass::Static, "Rate:", DS_MOVE_X, 260, 8, 22, 10},
            {IDC_ST_RATE, DlgClass::ComboBox, "", DS_TABSTOP | DS_MOVE_X, 284, 5, 56, 160},
            {IDC_ST_MODE, DlgClass::ComboBox, "", DS_TABSTOP | DS_MOVE_X, 346, 5, 50, 60},
            {IDC_ST_START, DlgClass::PushButton, "Start all", DS_TABSTOP | DS_DEFPUSH | DS_MOVE_X, 404, 5, 72, 15},
            {IDC_ST_STOP, DlgClass::PushButton, "Stop all", DS_TABSTOP | DS_MOVE_X, 482, 5, 72, 15},
            {IDC_ST_TILES, DlgClass::TileGrid, "", DS_TABSTOP | DS_SIZE_X | DS_SIZE_Y, 6, 24, 548, 186},
            {IDC_ST_LOG_LABEL, DlgClass::Static, "Log", DS_MOVE_Y | DS_SIZE_X, 6, 214, 548, 10},
            {IDC_ST_LOG, DlgClass::RichEdit, "", DS_SUNKEN | DS_MOVE_Y | DS_SIZE_X, 6, 225, 548, 58},
            {IDC_ST_STATUS, DlgClass::Static, "", DS_MOVE_Y | DS_SIZE_X, 6, 287, 548, 10},
        },
    };
    return t;
}
