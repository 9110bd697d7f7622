// SPDX-License-Identifier: MIT
// The About box: the icon, the program's name and version, and "确定".
#pragma once

#include "dialog_base.h"

class CAboutDlg : public CDialog {
public:
    CAboutDlg();
    ~CAboutDlg() override;

    void DoDataExchange(CDataExchange* pDX) override;
    DECLARE_MESSAGE_MAP()
};
