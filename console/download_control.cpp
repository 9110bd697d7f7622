// SPDX-License-Identifier: MIT
// Choosing the download file and the Start/Abort toggle.
#include "console_globals.h"
#include "engine.h"
#include "image_file.h"
#include "loader_dlg.h"
#include "resource.h"
#include "serial_port.h"

const char kDownloadFileFilter[] = "SDL files(*.SDL)|*.SDL|dnl Files(*.dnl)|*.dnl|VDL Files(*.VDL)|*.VDL|dat "
                                   "Files(*.dat)|*.dat|All files(*.*)|*.*||";

FileChooser g_pfnChooseFile = ChooseFileWithDialog;

void CLoaderDlg::OnBrowse()
{
    FileChooserRequest request;
    request.filter = kDownloadFileFilter;
    request.defaultExt = "SDL";
    request.initialName = "*.SDL";
    CString chosen;
    if (!g_pfnChooseFile || !g_pfnChooseFile(request, &chosen))
        return;
    UpdateData(true);
    m_strFile = chosen;
    g_bImageMode = IsImageFileName(chosen.Str()) ? 1 : 0;
    UpdateData(false);
}

void CLoaderDlg::OnStart()
{
    UpdateData(true);
    if (g_bDownloading) {
        m_strStatus.Empty();
        g_pEngine->Abort();
        SetDlgItemText(IDC_START, "Start");
        // The worker may still be reading: the file is closed once it is idle.
        ReleaseDownloadFile(g_pDownloadFile);
        g_pDownloadFile = nullptr;
        UpdateData(false);
        g_bDownloading = 0;
        return;
    }

    if (m_strFile.IsEmpty()) {
        AppendLog("No download file!\r\n", LOG_ERROR);
        return;
    }
    g_pDownloadFile = OpenFileUtf8(m_strFile, "rb");
    if (!g_pDownloadFile) {
        AppendLog("Can't open the download file!\r\n", LOG_ERROR);
        return;
    }
    if (!g_bConnected) {
        OnConnect();
        if (!g_bConnected) {
            AppendLog("Can't open serial port!\r\n", LOG_ERROR);
            fclose(g_pDownloadFile);
            g_pDownloadFile = nullptr;
            return;
        }
    }
    // Files of earlier downloads whose worker has ended since.
    ClosePendingIfIdle();
    m_strStatus.Format("===>>  \"%s\"", m_strFile.GetString());
    if (g_pEngine->Start(g_hPort, g_pDownloadFile, g_bImageMode) == 0) {
        SetDlgItemText(IDC_START, "Abort");
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
        if (m_bPendingTimer) {
            KillTimer(kPendingCloseTimer);
            m_bPendingTimer = false;
        }
        return;
    }
    if (g_bEngineBusy.load()) {
        if (!m_bPendingTimer) {
            SetTimer(kPendingCloseTimer, 10);
            m_bPendingTimer = true;
        }
        return;
    }
    ClosePendingNow();
    if (m_bPendingTimer) {
        KillTimer(kPendingCloseTimer);
        m_bPendingTimer = false;
    }
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
