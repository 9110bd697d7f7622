// SPDX-License-Identifier: MIT
// A grid of tiles, one per item, each with a big word on a colour of its
// own and a few lines of text: what a station shows of many ports at once,
// readable from across the bench. The tiles reflow to the control's width
// (scrolling when they do not fit) and one of them may be selected.
#pragma once

#include "dialog_base.h"
#include "dialog_controls.h"

#include <vector>

// The grid's notification when the operator selects another tile (a
// WM_COMMAND code of its own, as CBN_DROPDOWN is the combo box's).
constexpr UINT TGN_SELCHANGE = 0x7A01;

// clang-format off
#define ON_TGN_SELCHANGE(id, fn) {WM_COMMAND, TGN_SELCHANGE, int(id), static_cast<AFX_PMSG>(fn), nullptr},
// clang-format on

struct TileContent {
    CString title;     // top line, in bold: what the tile stands for
    CString subtitle;  // under it, small
    CString word;      // the big word in the middle
    COLORREF back = RGB(200, 200, 200);
    COLORREF fore = RGB(0, 0, 0);
    std::vector<CString> lines;  // under the word, one a line

    bool operator==(const TileContent& o) const
    {
        return title == o.title && subtitle == o.subtitle && word == o.word && back == o.back && fore == o.fore &&
               lines == o.lines;
    }
    bool operator!=(const TileContent& o) const { return !(*this == o); }
};

class CTileGrid : public CDlgItem {
public:
    // Tiles beyond the new count go; new ones are blank.
    void SetTileCount(int count);
    int GetTileCount() const;
    // Redraws that tile alone, and only when its content changed.
    void SetTile(int index, const TileContent& content);
    TileContent GetTile(int index) const;
    int GetCurSel() const;  // -1: none
    // Selects without notifying (as a list box's SetCurSel).
    void SetCurSel(int index);
};
