// SPDX-License-Identifier: MIT
#include "loader_dlg.h"

#include "about_dlg.h"
#include "console_globals.h"
#include "data_exchange.h"
#include "engine.h"
#include "engine_events.h"
#include "resource.h"
#include "serial_port.h"

CLoaderDlg::CLoaderDlg(CDialog* pParent) : CDialog(MainDialogTemplate(), pParent) {}

CLoaderDlg::~CLoaderDlg()
{
    ShutDown();
}

BEGIN_MESSAGE_MAP(CLoaderDlg, CDialog)
    ON_BN_CLICKED(IDC_START, &CLoaderDlg::OnStart)
    ON_BN_CLICKED(IDC_CONNECT, &CLoaderDlg::OnConnect)
    ON_BN_CLICKED(IDC_BROWSE, &CLoaderDlg::OnBrowse)
    ON_CBN_DROPDOWN(IDC_PORT, &CLoaderDlg::OnDropDownPort)
    ON_MESSAGE(WM_ENGINE_LOG, &CLoaderDlg::OnEngineLog)
    ON_MESSAGE(WM_ENGINE_DONE, &CLoaderDlg::OnEngineDone)
    ON_MESSAGE(WM_ENGINE_PROGRESS, &CLoaderDlg::OnEngineProgress)
END_MESSAGE_MAP()

void CLoaderDlg::DoDataExchange(CDataExchange* pDX)
{
    DDX_Control(pDX, IDC_PROGRESS, m_progress);
    DDX_Control(pDX, IDC_LOG, m_log);
    DDX_Text(pDX, IDC_FILE, m_strFile);
    DDX_CBIndex(pDX, IDC_BAUD, m_nBaud);
    DDX_CBIndex(pDX, IDC_PORT, m_nPort);
    DDX_Text(pDX, IDC_LINK, m_strLink);
    DDX_Text(pDX, IDC_STATUS, m_strStatus);
}

bool CLoaderDlg::OnInitDialog()
{
    // The dialog-init data: the combo items in this order, the port layer's
    // rates, ascending.
    CComboBox baud;
    baud.Attach(this, IDC_BAUD);
    for (uint32_t rate : kPortRates) {
        CString item;
        item.Format("%u", rate);
        baud.AddString(item);
    }
    // COM1..COM4, then the machine's other serial ports by their short names.
    OnDropDownPort();
    CDialog::OnInitDialog();

    const char* about = LoadResourceString(IDS_ABOUTBOX);
    if (*about)
        AppendSystemMenu(IDM_ABOUTBOX, about);
    SetMainFrameIcon();
    SetUpLogView();

    if (!g_pEngine)
        g_pEngine = new CDownloadEngine;
    g_pEngine->SetLogSink(ConsoleLogSink);
    g_pEngine->SetProgressSink(ConsoleProgressSink);

    {
        std::lock_guard<std::mutex> lock(g_mainWndLock);
        g_hMainWnd = GetSafeHwnd();
    }
    return true;
}

void CLoaderDlg::OnSysCommand(UINT nID, LPARAM)
{
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout;
        dlgAbout.DoModal();
    }
}

// No keystroke may leave the program half-way through a flash. Enter never
// ends the dialog: on a push button the window system presses that button,
// elsewhere it does nothing. Esc ends the program only while no download
// runs.
void CLoaderDlg::OnOK() {}

void CLoaderDlg::OnCancel()
{
    if (!g_bDownloading)
        EndDialog(IDCANCEL);
}

QuitQuestion g_pfnAskAbortAndQuit = AskAbortAndQuitWithBox;

// The close box and the window menu's Close. While a download runs the
// operator is asked first; Yes ends as ever: abort, wait for the worker,
// quit.
void CLoaderDlg::OnClose()
{
    if (g_bDownloading && !m_bShutDown && !(g_pfnAskAbortAndQuit && g_pfnAskAbortAndQuit(this)))
        return;
    EndDialog(IDCANCEL);
}

void CLoaderDlg::OnTimer(UINT_PTR nIDEvent)
{
    if (nIDEvent == kPendingCloseTimer)
        ClosePendingIfIdle();
}

void CLoaderDlg::OnDestroy()
{
    ShutDown();
}

// Leaving the dialog while a download runs: stop it, wait (bounded) for the
// worker, then release the file and the port so nothing is pulled from under
// a running thread. If the worker does not stop in time, its file and port
// are left to the end of the process.
void CLoaderDlg::ShutDown()
{
    if (m_bShutDown)
        return;
    m_bShutDown = true;
    if (g_bDownloading)
        OnStart();
    const bool idle = EngineWaitIdle(kWorkerStopWaitMs);
    {
        std::lock_guard<std::mutex> lock(g_mainWndLock);
        if (g_hMainWnd && g_hMainWnd == GetSafeHwnd())
            g_hMainWnd = nullptr;
    }
    DropEngineLines();
    if (m_bPendingTimer) {
        KillTimer(kPendingCloseTimer);
        m_bPendingTimer = false;
    }
    if (idle) {
        ClosePendingNow();
        if (g_bConnected && g_hPort)
            PortCloseDevice(g_hPort);
    }
    g_hPort = nullptr;
    g_bConnected = 0;
    g_bDownloading = 0;
    g_pDownloadFile = nullptr;
    g_bImageMode = 0;
}
