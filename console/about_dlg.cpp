// SPDX-License-Identifier: MIT
#include "about_dlg.h"

#include "app_icon.h"
#include "resource.h"

#include <QLabel>
#include <QPushButton>

CAboutDlg::CAboutDlg() : CDialog(AboutDialogTemplate(), nullptr)
{
    setWindowIcon(LoadMainFrameIcon());
    // The icon static shows IDR_MAINFRAME at its own 32x32 size.
    for (QWidget* w : Controls()) {
        auto* l = qobject_cast<QLabel*>(w);
        if (l && l->text().isEmpty()) {
            l->setPixmap(QPixmap::fromImage(MainFrameImage(32)));
            l->resize(32, 32);
            break;
        }
    }
    if (auto* ok = qobject_cast<QPushButton*>(GetDlgItem(IDOK)))
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

CAboutDlg::~CAboutDlg() = default;

void CAboutDlg::DoDataExchange(CDataExchange*) {}
