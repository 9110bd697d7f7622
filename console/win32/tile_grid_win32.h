// SPDX-License-Identifier: MIT
// The tile grid's window class, registered before the first dialog that
// names it.
#pragma once

#include "win_types.h"

constexpr wchar_t kTileGridClass[] = L"MarbrixTileGrid";

void RegisterTileGridClass();
