// SPDX-License-Identifier: MIT
#include "loader_app.h"

#include "about_dlg.h"
#include "loader_dlg.h"

#include <QTimer>

CLoaderApp theApp;

CLoaderApp::CLoaderApp() = default;
CLoaderApp::~CLoaderApp() = default;

bool CLoaderApp::InitInstance()
{
    CLoaderDlg dlg;
    m_pMainWnd = &dlg;
    if (!m_strAboutScreenshot.isEmpty()) {
        CAboutDlg about;
        about.show();
        QTimer::singleShot(400, &about, [this, &about] {
            if (!about.grab().save(m_strAboutScreenshot, "PNG"))
                qWarning("marbrix: cannot write %s", qPrintable(m_strAboutScreenshot));
            about.done(0);
        });
        about.DoModal();
    }
    if (!m_strPortPath.isEmpty() || !m_strScreenshot.isEmpty()) {
        // Runs once the dialog is shown and initialised.
        QTimer::singleShot(0, &dlg, [this, &dlg] {
            if (!m_strPortPath.isEmpty())
                dlg.AddPortPath(m_strPortPath);
            if (!m_strScreenshot.isEmpty()) {
                QTimer::singleShot(400, &dlg, [this, &dlg] {
                    const bool ok = dlg.grab().save(m_strScreenshot, "PNG");
                    dlg.done(ok ? 0 : 1);
                    if (!ok)
                        qWarning("marbrix: cannot write %s", qPrintable(m_strScreenshot));
                });
            }
        });
    }
    dlg.DoModal();
    m_pMainWnd = nullptr;
    return false;
}
