// SPDX-License-Identifier: MIT
// CLoaderDlg: the main dialog. Its handlers live in one file per concern:
// loader_dlg.cpp (initialisation, window menu, icon, closing),
// port_connection.cpp (OnConnect, OnPortLost, OnCtlColor), log_view.cpp (AppendLog and
// the engine's notifications), download_control.cpp (OnBrowse, OnStart,
// OnEngineDone).
#pragma once

#include "dialog_base.h"
#include "port_line.h"

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class QProgressBar;
class QTextEdit;

using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

class CLoaderDlg : public CDialog {
    Q_OBJECT
public:
    explicit CLoaderDlg(QWidget* pParent = nullptr);
    ~CLoaderDlg() override;

    // --- the dialog's members, exchanged with the controls ---
    QProgressBar* m_progress = nullptr;  // IDC_PROGRESS
    QTextEdit* m_log = nullptr;          // IDC_LOG
    QString m_strFile;                   // IDC_FILE
    int m_nBaud = 7;                     // IDC_BAUD: "115200"
    int m_nPort = 1;                     // IDC_PORT: "COM2"
    QString m_strLink;                   // IDC_LINK
    QString m_strStatus;                 // IDC_STATUS
    QIcon m_hIcon;                       // IDR_MAINFRAME

    // --- port connection ---
    void OnConnect();
    // The engine ended the download because the port is gone: close it
    // and say why.
    void OnPortLost(const QString& reason);
    // The text colour a control is drawn in, or an invalid colour to keep
    // the default: the link indicator and the status line.
    QColor OnCtlColor(QWidget* pWnd) const;
    // The device behind a port list index: COM1..COM4, then the serial ports
    // found on this machine, then paths added with AddPortPath.
    std::string PortPathAt(int index) const;
    // Adds a device path (a pty, a USB adapter) to the port list unless it is
    // there already, selects it and returns its index. It stays in the list.
    int AddPortPath(const QString& path);
    // Brings the port list up to date as it drops down: COM1..COM4, the
    // serial ports found now, then the added paths. The selected port stays
    // selected, and stays listed even if it has gone, until another is
    // chosen.
    void OnDropDownPort();

    // --- log view and notifications ---
    void AppendLog(QString text, uint8_t level);
    LRESULT OnEngineLog(const QString& text, uint8_t level);
    LRESULT OnEngineProgress(WPARAM wParam, LPARAM lParam);

    // --- download control ---
    void OnBrowse();
    void OnStart();
    LRESULT OnEngineDone(WPARAM wParam, LPARAM lParam);

    // --- window menu ---
    void OnSysCommand(unsigned nID, LPARAM lParam);

    // Files and a port handed to a worker that was asked to stop but may
    // still use them; closed once the engine is idle. For tests: true when
    // nothing is waiting to be closed.
    bool NothingPendingClose() const { return m_pendingFiles.empty() && m_pendingPorts.empty(); }

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    bool OnInitDialog() override;
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

public:
    void done(int r) override;

private:
    // The log's face, line spacing and read-only state.
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
    QTimer m_pendingTimer;
    bool m_bShutDown = false;
};

// How long closing the dialog or the port waits for a stopping worker.
constexpr int kWorkerStopWaitMs = 8000;

// Test seams. The file chooser returns true with the chosen path, false
// when the operator cancelled; it gets the filter in Qt's form, the default
// suffix and the initial file name.
struct FileChooserRequest {
    QString filter;
    QString defaultSuffix;
    QString initialName;
};
using FileChooser = bool (*)(const FileChooserRequest& request, QString* path);
extern FileChooser g_pfnChooseFile;
bool ChooseFileWithDialog(const FileChooserRequest& request, QString* path);
// The machine's serial ports beyond COM1..COM4, asked each time the port
// list drops down.
using PortLister = std::vector<std::string> (*)();
extern PortLister g_pfnListPorts;
// Asked when the operator closes the window while a download runs: true
// to abort it and quit.
using QuitQuestion = bool (*)(QWidget* parent);
extern QuitQuestion g_pfnAskAbortAndQuit;
bool AskAbortAndQuitWithBox(QWidget* parent);
// The clock the log's time stamps come from (local time).
using LogClock = QTime (*)();
extern LogClock g_pfnLogClock;

// Image mode from a file's extension (the text after the last dot of its
// name): its first three characters are D, A, T in any case.
bool IsImageFileExt(const QString& ext);
QString FileExtOf(const QString& path);

// The engine's sinks: they post the dialog a notification and return.
int ConsoleLogSink(const char* text, int level);
void ConsoleProgressSink(int percent);

// Text colours of the log by level.
QColor LogLevelColor(uint8_t level);
// The log's face: a clear Latin face first, the Song-style faces for
// Chinese behind it, at the template's size.
QFont LogFont(int pointSize);
// Extra space under each log line so that no glyph of either face (an
// underscore, a descender, a Chinese character) reaches into the next line.
qreal LogLinePadding(const QFont& font);

// The rates of the baud list, by its index; the first eight are the
// original list.
extern const uint32_t BaudRateTable[11];
constexpr int kBaudRateCount = 11;
