// SPDX-License-Identifier: MIT
// CLoaderApp on Qt: the main dialog, and the documentation's pictures
// rendered from the widgets themselves.
#include "loader_app.h"

#include "about_dlg.h"
#include "loader_dlg.h"
#include "qt_backend.h"
#include "resource.h"

#include <QDialog>
#include <QProgressBar>
#include <QTimer>

namespace {

CString g_strShotFile;

bool ChooseShotFile(const FileChooserRequest&, CString* path)
{
    *path = g_strShotFile;
    return true;
}

bool SaveWindow(QWidget* w, const CString& file)
{
    const bool ok = w->grab().save(ToQString(file), "PNG");
    if (!ok)
        qWarning("marbrix: cannot write %s", file.GetString());
    return ok;
}

// Starts a download of the given file on the selected port and renders the
// window part-way through it. Gives up (exit 1) if the download ends or
// stalls before it gets there.
void ShootDownload(CLoaderApp& app, CLoaderDlg& dlg)
{
    g_strShotFile = app.m_strScreenshotDownload;
    g_pfnChooseFile = ChooseShotFile;
    dlg.OnBrowse();
    g_pfnChooseFile = ChooseFileWithDialog;
    dlg.OnStart();
    QDialog* w = QtWindow(dlg);
    auto shoot = [&app, &dlg, w] { dlg.EndDialog(SaveWindow(w, app.m_strScreenshot) ? 0 : 1); };
    auto* bar = qobject_cast<QProgressBar*>(QtControl(dlg, IDC_PROGRESS));
    QObject::connect(bar, &QProgressBar::valueChanged, w, [&app, w, shoot](int value) {
        static bool taken = false;
        if (taken || value < app.m_nScreenshotPercent)
            return;
        taken = true;
        // Once the lines logged with this block are shown too.
        QTimer::singleShot(50, w, shoot);
    });
    QTimer::singleShot(60000, w, [&dlg] {
        qWarning("marbrix: the download did not get far enough for the picture");
        dlg.EndDialog(1);
    });
}

}  // namespace

CLoaderApp theApp;

CLoaderApp::CLoaderApp() = default;
CLoaderApp::~CLoaderApp() = default;

bool CLoaderApp::InitInstance()
{
    CLoaderDlg dlg;
    m_pMainWnd = &dlg;
    if (!m_strAboutScreenshot.IsEmpty()) {
        CAboutDlg about;
        QTimer::singleShot(400, QtWindow(about), [this, &about] {
            SaveWindow(QtWindow(about), m_strAboutScreenshot);
            about.EndDialog(0);
        });
        about.DoModal();
    }
    if (!m_strPortPath.IsEmpty() || !m_strScreenshot.IsEmpty()) {
        // Runs once the dialog is shown and initialised.
        QWidget* w = QtWindow(dlg);
        QTimer::singleShot(0, w, [this, &dlg, w] {
            if (!m_strPortPath.IsEmpty())
                dlg.AddPortPath(m_strPortPath);
            if (m_cxScreenshot > 0 && m_cyScreenshot > 0)
                w->resize(m_cxScreenshot, m_cyScreenshot);
            if (!m_strScreenshot.IsEmpty() && !m_strScreenshotDownload.IsEmpty()) {
                ShootDownload(*this, dlg);
            } else if (!m_strScreenshot.IsEmpty()) {
                QTimer::singleShot(400, w,
                                   [this, &dlg, w] { dlg.EndDialog(SaveWindow(w, m_strScreenshot) ? 0 : 1); });
            }
        });
    }
    dlg.DoModal();
    m_pMainWnd = nullptr;
    return false;
}
