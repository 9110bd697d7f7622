// SPDX-License-Identifier: MIT
// A push button that opens a menu of checkable items: what a window offers
// when the operator picks several things out of a list that changes (the
// serial ports of the machine), without giving the list room of its own.
// The menu is asked for afresh each time it opens (MBN_DROPDOWN, as a combo
// box's CBN_DROPDOWN), so it always shows what is there now; choosing an
// item closes it and tells the dialog which one (MBN_CHOSEN).
#pragma once

#include "dialog_base.h"
#include "dialog_controls.h"

#include <vector>

// WM_COMMAND codes of the menu button's own, beside the tile grid's.
constexpr UINT MBN_DROPDOWN = 0x7A02;  // the menu is about to open: SetItems now
constexpr UINT MBN_CHOSEN = 0x7A03;    // an item was chosen: GetChosen

// clang-format off
#define ON_MBN_DROPDOWN(id, fn) {WM_COMMAND, MBN_DROPDOWN, int(id), static_cast<AFX_PMSG>(fn), nullptr},
#define ON_MBN_CHOSEN(id, fn) {WM_COMMAND, MBN_CHOSEN, int(id), static_cast<AFX_PMSG>(fn), nullptr},
// clang-format on

struct MenuItem {
    CString text;
    bool checked = false;
    bool enabled = true;  // a greyed item says something and cannot be chosen
};

class CMenuButton : public CDlgItem {
public:
    // The menu's items, in order; shown the next time (or, called from the
    // MBN_DROPDOWN handler, this time) the menu opens.
    void SetItems(const std::vector<MenuItem>& items);
    // The index of the item chosen last; -1 before any.
    int GetChosen() const;
};
