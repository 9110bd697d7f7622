// SPDX-License-Identifier: MIT
// The About box: the icon, the program's name and version, and "确定".
#pragma once

#include "dialog_base.h"

class CAboutDlg : public CDialog {
    Q_OBJECT
public:
    CAboutDlg();
    ~CAboutDlg() override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
};
