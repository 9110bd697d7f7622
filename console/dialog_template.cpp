// SPDX-License-Identifier: MIT
#include "dialog_template.h"

#include "resource.h"

namespace {

int ScaleRounded(int a, int b, int c)
{
    long long p = (long long)a * b;
    return int(p >= 0 ? (p + c / 2) / c : (p - c / 2) / c);
}

}  // namespace

const DlgTemplate& MainDialogTemplate()
{
    // One control a line, as the dialog reads.
    // clang-format off
    static const DlgTemplate t = {
        IDD_MAIN, "Marbrix", 320, 227, "宋体", 9, true, true,
        {
            // Com Setup keeps to the right edge; the log takes the extra
            // height, the full-width controls the extra width.
            {IDC_STATIC, DlgClass::GroupBox, "Com Setup", DS_MOVE_X, 221, 7, 92, 61},
            {IDC_PORT, DlgClass::ComboBox, "", DS_TABSTOP | DS_MOVE_X, 229, 19, 74, 49},
            {IDC_BAUD, DlgClass::ComboBox, "", DS_TABSTOP | DS_MOVE_X, 229, 33, 74, 49},
            {IDC_CONNECT, DlgClass::PushButton, "Connect", DS_TABSTOP | DS_MOVE_X, 229, 50, 46, 14},
            {IDC_LINK, DlgClass::Static, "test", DS_CENTER_TEXT | DS_SUNKEN | DS_BORDER | DS_GROUP | DS_MOVE_X, 280, 50, 23, 14},
            {IDC_LOG, DlgClass::RichEdit, "", DS_BORDER | DS_TABSTOP | DS_SIZE_X | DS_SIZE_Y, 7, 92, 306, 128},
            {IDC_PROGRESS, DlgClass::Progress, "Progress1", DS_SMOOTH | DS_BORDER | DS_SIZE_X, 7, 54, 212, 12},
            {IDC_START, DlgClass::PushButton, "Start", DS_FLAT | DS_TABSTOP | DS_SUNKEN | DS_SIZE_X, 7, 32, 210, 17},
            {IDC_FILE, DlgClass::Static, "SendFile:No file",
             DS_CENTER_TEXT | DS_BORDER | DS_SUNKEN | DS_PATH_ELLIPSIS | DS_GROUP | DS_SIZE_X, 7, 11, 185, 16},
            {IDC_BROWSE, DlgClass::PushButton, "…", DS_TABSTOP | DS_MOVE_X, 196, 11, 21, 16},
            {IDC_STATUS, DlgClass::Static, "", DS_CENTER_TEXT | DS_SUNKEN | DS_PATH_ELLIPSIS | DS_GROUP | DS_SIZE_X, 7, 70, 306, 17},
        },
    };
    // clang-format on
    return t;
}

const DlgTemplate& AboutDialogTemplate()
{
    // One control a line, as the dialog reads.
    // clang-format off
    static const DlgTemplate t = {
        IDD_ABOUTBOX, "关于 Marbrix", 235, 55, "宋体", 9, false, false,
        {
            {IDC_STATIC, DlgClass::StaticIcon, "", DS_NONE, 11, 17, 20, 20},
            {IDC_STATIC, DlgClass::Static, "Marbrix 1.0 版", DS_GROUP, 40, 10, 119, 8},
            {IDOK, DlgClass::PushButton, "确定", DS_DEFPUSH | DS_GROUP | DS_TABSTOP, 178, 7, 50, 14},
        },
    };
    // clang-format on
    return t;
}

DlgRect DlgToPixels(const DlgRect& dlu, DlgBaseUnits u)
{
    return DlgRect{ScaleRounded(dlu.x, u.cx, 4), ScaleRounded(dlu.y, u.cy, 8), ScaleRounded(dlu.cx, u.cx, 4),
                   ScaleRounded(dlu.cy, u.cy, 8)};
}
