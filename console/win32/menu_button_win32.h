// SPDX-License-Identifier: MIT
// The menu button on Win32: a plain push button; its click is turned into
// MBN_DROPDOWN, a popup menu under the button, and MBN_CHOSEN for the item
// picked.
#pragma once

#include "win_types.h"

class CDialog;

// The caption's mark that the button opens a menu (a Qt push button with a
// menu draws its own).
constexpr wchar_t kMenuButtonMark[] = L" \u25BC";

// The button was clicked: asks the dialog for the items, shows them and
// reports the choice. Returns when the menu has closed.
void RunButtonMenu(CDialog& owner, HWND button, int id);
