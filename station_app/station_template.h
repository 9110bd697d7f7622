// SPDX-License-Identifier: MIT
#pragma once

#include "dialog_template.h"

// The window's title, whatever the station is doing: operators and their
// scripts find the window by it.
constexpr const char kStationTitle[] = "Marbrix Station";

const DlgTemplate& StationDialogTemplate();
