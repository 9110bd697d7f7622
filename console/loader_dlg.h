// SPDX-License-Identifier: MIT
// CLoaderDlg: the main dialog. Its handlers are written once for every
// window system and live in one file per concern: loader_dlg.cpp
// (initialisation, message map, window menu, keys, closing),
// port_connection.cpp (OnConnect, OnPortLost, OnCtlColor), log_view.cpp
// (AppendLog and the engine's notifications), download_control.cpp
// (OnBrowse, OnStart, OnEngineDone).
#pragma once

#include "dialog_base.h"
#include "dialog_controls.h"
#include "port_line.h"
#include "port_rates.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class CLoaderDlg : public CDialog {
public:
    explicit CLoaderDlg(CDialog* pParent = nullptr);
    ~CLoaderDlg() override;

    // --- the dialog's members, exchanged with the controls ---
    CProgressCtrl m_progress;                       // IDC_PROGRESS
    CRichEditCtrl m_log;                            // IDC_LOG
    CString m_strFile;                              // IDC_FILE
    int m_nBaud = PortRateIndex(kPortDefaultRate);  // IDC_BAUD: "115200"
    int m_nPort = 1;                                // IDC_PORT: "COM2"
    CString m_strLink;                              // IDC_LINK
    CString m_strStatus;                            // IDC_STATUS

    // --- port connection ---
    void OnConnect();
    // The engine ended the download because the port is gone: close it
    // and say why.
    void OnPortLost(const CString& reason);
    // The link indicator and the status line.
    COLORREF OnCtlColor(int nID) override;
    // The device behind a port list index: COM1..COM4, then the serial ports
    // found on this machine, then paths added with AddPortPath.
    std::string PortPathAt(int index) const;
    // Adds a device path (a pty, a USB adapter) to the port list unless it is
    // there already, selects it and returns its index. It stays in the list.
    int AddPortPath(const CString& path);
    // Brings the port list up to date as it drops down: COM1..COM4, the
    // serial ports found now, then the added paths. The selected port stays
    // selected, and stays listed even if it has gone, until another is
    // chosen.
    void OnDropDownPort();

    // --- log view and notifications ---
    void AppendLog(const CString& text, uint8_t level);
    LRESULT OnEngineLog(WPARAM wParam, LPARAM lParam);
    LRESULT OnEngineProgress(WPARAM wParam, LPARAM lParam);

    // --- download control ---
    void OnBrowse();
    void OnStart();
    LRESULT OnEngineDone(WPARAM wParam, LPARAM lParam);

    // --- window menu, keys, closing ---
    void OnSysCommand(UINT nID, LPARAM lParam) override;
    void OnOK() override;
    void OnCancel() override;
    void OnClose() override;
    void OnTimer(UINT_PTR nIDEvent) override;
    void OnDestroy() override;

    // Files and a port handed to a worker that was asked to stop but may
    // still use them; closed once the engine is idle. For tests: true when
    // nothing is waiting to be closed.
    bool NothingPendingClose() const { return m_pendingFiles.empty() && m_pendingPorts.empty(); }

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    bool OnInitDialog() override;
    DECLARE_MESSAGE_MAP()

private:
    // The log's face and read-only state.
    void SetUpLogView();
    // The closing steps of OnConnect. waitForWorker: give a running worker
    // time to end before the handle is closed (DisConnect); without it the
    // close is left to the deferred-close machinery at once.
    void ClosePort(bool waitForWorker = true);
    void ReleaseDownloadFile(FILE* file);
    void ReleasePort(PortHandle port);
    void ClosePendingIfIdle();
    void ClosePendingNow();
    void ShutDown();

    std::vector<std::string> m_portPaths;
    std::vector<std::string> m_addedPaths;  // by AddPortPath, kept in the list
    std::vector<FILE*> m_pendingFiles;
    std::vector<PortHandle> m_pendingPorts;
    bool m_bPendingTimer = false;
    bool m_bShutDown = false;
};

// The timer that polls for the end of a stopping worker.
constexpr UINT_PTR kPendingCloseTimer = 1;
// How long closing the dialog or the port waits for a stopping worker.
constexpr int kWorkerStopWaitMs = 8000;

// Test seams. The file chooser returns true with the chosen path, false
// when the operator cancelled; it gets the filter in the MFC form ("label|
// pattern|...||"), the default extension and the initial file name.
struct FileChooserRequest {
    CString filter;
    CString defaultExt;
    CString initialName;
};
using FileChooser = bool (*)(const FileChooserRequest& request, CString* path);
extern FileChooser g_pfnChooseFile;
// The window system's own file dialog (one per backend).
bool ChooseFileWithDialog(const FileChooserRequest& request, CString* path);
// The machine's serial ports beyond COM1..COM4, asked each time the port
// list drops down.
using PortLister = std::vector<std::string> (*)();
extern PortLister g_pfnListPorts;
// Asked when the operator closes the window while a download runs: true
// to abort it and quit.
using QuitQuestion = bool (*)(CDialog* parent);
extern QuitQuestion g_pfnAskAbortAndQuit;
// The window system's own message box (one per backend).
bool AskAbortAndQuitWithBox(CDialog* parent);
// The clock the log's time stamps come from (local time).
struct LogTime {
    int hour, minute, second;
};
using LogClock = LogTime (*)();
extern LogClock g_pfnLogClock;

// The file chooser's filter: five label and pattern pairs.
extern const char kDownloadFileFilter[];

// The engine's sinks: they post the dialog a notification and return.
int ConsoleLogSink(const char* text, int level);
void ConsoleProgressSink(int percent);

// Text colours of the log by level.
COLORREF LogLevelColor(uint8_t level);

// The baud list shows kPortRates in their order: an index of the list is an
// index of kPortRates.
constexpr int kBaudRateCount = int(kPortRateCount);
