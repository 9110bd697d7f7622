// SPDX-License-Identifier: MIT
#include "loader_app.h"

#include "about_dlg.h"
#include "loader_dlg.h"

#include <QProgressBar>
#include <QTimer>

namespace {

QString g_strShotFile;

bool ChooseShotFile(const FileChooserRequest&, QString* path)
{
    *path = g_strShotFile;
    return true;
}

}  // namespace

// Starts a download of m_strScreenshotDownload on the selected port and
// renders the window part-way through it. Gives up (exit 1) if the
// download ends or stalls before it gets there.
void CLoaderApp::ShootDownload(CLoaderDlg& dlg)
{
    g_strShotFile = m_strScreenshotDownload;
    g_pfnChooseFile = ChooseShotFile;
    dlg.OnBrowse();
    g_pfnChooseFile = ChooseFileWithDialog;
    dlg.OnStart();
    auto shoot = [this, &dlg] {
        const bool ok = dlg.grab().save(m_strScreenshot, "PNG");
        if (!ok)
            qWarning("marbrix: cannot write %s", qPrintable(m_strScreenshot));
        dlg.done(ok ? 0 : 1);
    };
    QObject::connect(dlg.m_progress, &QProgressBar::valueChanged, &dlg, [this, &dlg, shoot](int value) {
        static bool taken = false;
        if (taken || value < m_nScreenshotPercent)
            return;
        taken = true;
        // Once the lines logged with this block are shown too.
        QTimer::singleShot(50, &dlg, shoot);
    });
    QTimer::singleShot(60000, &dlg, [&dlg] {
        qWarning("marbrix: the download did not get far enough for the picture");
        dlg.done(1);
    });
}

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
            if (m_screenshotSize.isValid())
                dlg.resize(m_screenshotSize);
            if (!m_strScreenshot.isEmpty() && !m_strScreenshotDownload.isEmpty()) {
                ShootDownload(dlg);
            } else if (!m_strScreenshot.isEmpty()) {
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
