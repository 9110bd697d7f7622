// SPDX-License-Identifier: MIT
// Choosing the download file and the Start/Abort toggle.
#include "console_globals.h"
#include "engine.h"
#include "loader_dlg.h"
#include "resource.h"
#include "serial_port.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>

namespace {

const char kFilter[] =
    "SDL files(*.SDL);;dnl Files(*.dnl);;VDL Files(*.VDL);;dat Files(*.dat);;All files(*.*)";

}  // namespace

bool ChooseFileWithDialog(const FileChooserRequest& request, QString* path)
{
    QFileDialog dlg(nullptr);
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(QFileDialog::ExistingFile);
    dlg.setNameFilter(request.filter);
    dlg.setDefaultSuffix(request.defaultSuffix);
    dlg.selectFile(request.initialName);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return false;
    *path = dlg.selectedFiles().first();
    return true;
}

FileChooser g_pfnChooseFile = ChooseFileWithDialog;

QString FileExtOf(const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot + 1);
}

bool IsImageFileExt(const QString& ext)
{
    static const char upper[] = "DAT";
    static const char lower[] = "dat";
    for (int i = 0; i < 3; ++i) {
        if (i >= ext.size())
            return false;
        const QChar c = ext.at(i);
        if (c != QLatin1Char(upper[i]) && c != QLatin1Char(lower[i]))
            return false;
    }
    return true;
}

void CLoaderDlg::OnBrowse()
{
    FileChooserRequest request;
    request.filter = QString::fromLatin1(kFilter);
    request.defaultSuffix = QStringLiteral("SDL");
    request.initialName = QStringLiteral("*.SDL");
    QString chosen;
    if (!g_pfnChooseFile || !g_pfnChooseFile(request, &chosen))
        return;
    UpdateData(true);
    m_strFile = chosen;
    g_bImageMode = IsImageFileExt(FileExtOf(chosen)) ? 1 : 0;
    UpdateData(false);
}

void CLoaderDlg::OnStart()
{
    UpdateData(true);
    if (g_bDownloading) {
        m_strStatus.clear();
        g_pEngine->Abort();
        SetDlgItemText(IDC_START, QStringLiteral("Start"));
        // The worker may still be reading: the file is closed once it is idle.
        ReleaseDownloadFile(g_pDownloadFile);
        g_pDownloadFile = nullptr;
        UpdateData(false);
        g_bDownloading = 0;
        return;
    }

    if (m_strFile.isEmpty()) {
        AppendLog(QStringLiteral("No download file!\r\n"), 1);
        return;
    }
    g_pDownloadFile = fopen(QFile::encodeName(m_strFile).constData(), "rb");
    if (!g_pDownloadFile) {
        AppendLog(QStringLiteral("Can't open the download file!\r\n"), 1);
        return;
    }
    if (!g_bConnected) {
        OnConnect();
        if (!g_bConnected) {
            AppendLog(QStringLiteral("Can't open serial port!\r\n"), 1);
            fclose(g_pDownloadFile);
            g_pDownloadFile = nullptr;
            return;
        }
    }
    // Files of earlier downloads whose worker has ended since.
    ClosePendingIfIdle();
    m_strStatus = QString::asprintf("===>>  \"%s\"", m_strFile.toUtf8().constData());
    if (g_pEngine->Start(g_hPort, g_pDownloadFile, g_bImageMode) == 0) {
        SetDlgItemText(IDC_START, QStringLiteral("Abort"));
        g_bDownloading = 1;
    } else {
        // Refused: the engine never took this file.
        fclose(g_pDownloadFile);
        g_pDownloadFile = nullptr;
    }
    UpdateData(false);
}

// wParam: nonzero when the port is gone. The toggle then only returns to
// Idle: should the operator have pressed Abort meanwhile, it must not start
// a new download on a dead port.
LRESULT CLoaderDlg::OnEngineDone(WPARAM wParam, LPARAM)
{
    if (wParam && !g_bDownloading)
        return 0;
    OnStart();
    return 0;
}

void CLoaderDlg::ReleaseDownloadFile(FILE* file)
{
    if (!file)
        return;
    m_pendingFiles.push_back(file);
    ClosePendingIfIdle();
}

void CLoaderDlg::ReleasePort(PortHandle port)
{
    if (!port)
        return;
    m_pendingPorts.push_back(port);
    ClosePendingIfIdle();
}

// Closes what a stopped worker was using once no worker runs; polls until
// then. A worker started since owns only its own file and the open port.
void CLoaderDlg::ClosePendingIfIdle()
{
    if (m_pendingFiles.empty() && m_pendingPorts.empty()) {
        m_pendingTimer.stop();
        return;
    }
    if (g_bEngineBusy.load()) {
        if (!m_pendingTimer.isActive())
            m_pendingTimer.start();
        return;
    }
    ClosePendingNow();
    m_pendingTimer.stop();
}

// Only once no worker can still read the file or use the port.
void CLoaderDlg::ClosePendingNow()
{
    for (FILE* f : m_pendingFiles)
        fclose(f);
    for (PortHandle p : m_pendingPorts)
        PortCloseDevice(p);
    m_pendingFiles.clear();
    m_pendingPorts.clear();
}
