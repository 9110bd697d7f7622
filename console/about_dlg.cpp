// SPDX-License-Identifier: MIT
#include "about_dlg.h"

#include "resource.h"

// The icon static shows IDR_MAINFRAME; the template's "确定" (IDOK) ends the
// box as any dialog's OK does.
CAboutDlg::CAboutDlg() : CDialog(AboutDialogTemplate(), nullptr) {}

CAboutDlg::~CAboutDlg() = default;

void CAboutDlg::DoDataExchange(CDataExchange*) {}

BEGIN_MESSAGE_MAP(CAboutDlg, CDialog)
END_MESSAGE_MAP()
