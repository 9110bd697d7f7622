// SPDX-License-Identifier: MIT
// Dialog templates: the console's two dialogs as data, controls placed in
// dialog units. Each window system builds its dialogs from this one table:
// the Qt side turns the units into pixels with the base units of the
// template's font, the Win32 side hands the system an in-memory template.
#pragma once

#include <vector>

// MenuButton: a push button that opens a menu of checkable items (menu_button.h).
enum class DlgClass { GroupBox, ComboBox, PushButton, Static, StaticIcon, RichEdit, Progress, TileGrid, MenuButton };

// Style bits the layer understands, named after the template's styles.
enum DlgStyle : unsigned {
    DS_NONE = 0,
    DS_CENTER_TEXT = 1u << 0,    // SS_CENTER | SS_CENTERIMAGE
    DS_BORDER = 1u << 1,         // WS_BORDER
    DS_SUNKEN = 1u << 2,         // SS_SUNKEN / WS_EX_CLIENTEDGE / WS_EX_STATICEDGE
    DS_TABSTOP = 1u << 3,        // WS_TABSTOP
    DS_DEFPUSH = 1u << 4,        // BS_DEFPUSHBUTTON
    DS_FLAT = 1u << 5,           // BS_FLAT
    DS_SMOOTH = 1u << 6,         // PBS_SMOOTH
    DS_PATH_ELLIPSIS = 1u << 7,  // SS_PATHELLIPSIS: a long path loses its middle
    // How a control follows a dialog enlarged beyond its template: moved
    // with the right edge, or given the extra width or height.
    DS_MOVE_X = 1u << 8,
    DS_SIZE_X = 1u << 9,
    DS_SIZE_Y = 1u << 10,
    DS_GROUP = 1u << 11,   // WS_GROUP
    DS_MOVE_Y = 1u << 12,  // moved with the bottom edge
};

struct DlgItemTemplate {
    int id;
    DlgClass cls;
    const char* text;  // UTF-8
    unsigned style;
    int x, y, cx, cy;  // dialog units
};

struct DlgTemplate {
    int id;
    const char* caption;  // UTF-8
    int cx, cy;           // client size, dialog units
    const char* face;     // font face, UTF-8
    int pointSize;
    bool sizable;    // may be enlarged (never below the template's size)
    bool appWindow;  // shown on the task bar
    std::vector<DlgItemTemplate> items;
};

const DlgTemplate& MainDialogTemplate();
const DlgTemplate& AboutDialogTemplate();

// Dialog units to pixels for a font's base units: x by cx/4, y by cy/8,
// rounded as the system rounds them.
struct DlgBaseUnits {
    int cx;
    int cy;
};
struct DlgRect {
    int x, y, cx, cy;
};
DlgRect DlgToPixels(const DlgRect& dlu, DlgBaseUnits units);
