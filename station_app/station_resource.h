// SPDX-License-Identifier: MIT
// The station window's controls.
#pragma once

enum StationControlId {
    IDD_STATION = 200,
    IDC_ST_FILE_LABEL = 1201,
    IDC_ST_FILE,
    IDC_ST_CHOOSE,
    IDC_ST_RATE_LABEL,
    IDC_ST_RATE,
    IDC_ST_MODE,
    IDC_ST_START,
    IDC_ST_STOP,
    IDC_ST_TILES,
    IDC_ST_LOG_LABEL,
    IDC_ST_LOG,
    IDC_ST_STATUS,
    IDC_ST_PORTS,
};
