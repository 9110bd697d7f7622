// SPDX-License-Identifier: MIT
#include "loader_dlg.h"

#include "about_dlg.h"
#include "app_icon.h"
#include "console_globals.h"
#include "data_exchange.h"
#include "engine.h"
#include "engine_events.h"
#include "extra_ports.h"
#include "resource.h"
#include "serial_port.h"

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>

CLoaderDlg::CLoaderDlg(QWidget* pParent) : CDialog(MainDialogTemplate(), pParent)
{
    m_hIcon = LoadMainFrameIcon();

    connect(qobject_cast<QPushButton*>(GetDlgItem(IDC_START)), &QPushButton::clicked, this, &CLoaderDlg::OnStart);
    connect(qobject_cast<QPushButton*>(GetDlgItem(IDC_CONNECT)), &QPushButton::clicked, this,
            &CLoaderDlg::OnConnect);
    connect(qobject_cast<QPushButton*>(GetDlgItem(IDC_BROWSE)), &QPushButton::clicked, this, &CLoaderDlg::OnBrowse);
    // The link indicator and the status line take their text colour when
    // they are drawn.
    GetDlgItem(IDC_LINK)->installEventFilter(this);
    GetDlgItem(IDC_STATUS)->installEventFilter(this);

    // The window menu's About entry: on Linux the window manager owns that
    // menu, so the entry is offered on the dialog's context menu and on F1.
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this, [this] { OnSysCommand(IDM_ABOUTBOX, 0); });

    m_pendingTimer.setInterval(10);
    connect(&m_pendingTimer, &QTimer::timeout, this, &CLoaderDlg::ClosePendingIfIdle);
}

CLoaderDlg::~CLoaderDlg()
{
    ShutDown();
}

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
    // The dialog-init data: the combo items in this order.
    auto* port = qobject_cast<QComboBox*>(GetDlgItem(IDC_PORT));
    auto* baud = qobject_cast<QComboBox*>(GetDlgItem(IDC_BAUD));
    for (const char* s : {"COM1", "COM2", "COM3", "COM4"}) {
        port->addItem(QString::fromLatin1(s));
        m_portPaths.push_back(PortDevicePath(s));
    }
    for (const char* s : {"2400", "4800", "9600", "14400", "19200", "38400", "57600", "115200"})
        baud->addItem(QString::fromLatin1(s));
    // Then the machine's other serial ports, by their short names.
    for (const std::string& path : ConsoleExtraPortPaths()) {
        bool known = false;
        for (const std::string& p : m_portPaths)
            known = known || p == path;
        if (known)
            continue;
        port->addItem(QString::fromStdString(PortShortName(path)));
        m_portPaths.push_back(path);
    }
    CDialog::OnInitDialog();

    setWindowIcon(m_hIcon);

    if (!g_pEngine)
        g_pEngine = new CDownloadEngine;
    g_pEngine->SetLogSink(ConsoleLogSink);
    g_pEngine->SetProgressSink(ConsoleProgressSink);

    {
        std::lock_guard<std::mutex> lock(g_mainWndLock);
        g_hMainWnd = this;
    }
    return true;
}

void CLoaderDlg::OnSysCommand(unsigned nID, LPARAM)
{
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout;
        dlgAbout.DoModal();
    }
}

void CLoaderDlg::contextMenuEvent(QContextMenuEvent* e)
{
    const char* text = LoadResourceString(IDS_ABOUTBOX);
    if (!*text)
        return;
    QMenu menu(this);
    QAction* about = menu.addAction(QString::fromUtf8(text));
    if (menu.exec(e->globalPos()) == about)
        OnSysCommand(IDM_ABOUTBOX, 0);
}

void CLoaderDlg::keyPressEvent(QKeyEvent* e)
{
    // Enter presses the focused push button; elsewhere it ends the dialog
    // as OK, and Esc as Cancel.
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        if (auto* b = qobject_cast<QPushButton*>(focusWidget())) {
            b->click();
            return;
        }
        accept();
        return;
    }
    CDialog::keyPressEvent(e);
}

void CLoaderDlg::paintEvent(QPaintEvent* e)
{
    if (isMinimized()) {
        QPainter dc(this);
        const int cxIcon = 32, cyIcon = 32;
        const QRect rect = this->rect();
        const int x = (rect.width() - cxIcon + 1) / 2;
        const int y = (rect.height() - cyIcon + 1) / 2;
        dc.drawPixmap(x, y, m_hIcon.pixmap(cxIcon, cyIcon));
        return;
    }
    CDialog::paintEvent(e);
}

bool CLoaderDlg::event(QEvent* e)
{
    switch (int(e->type())) {
    case WM_ENGINE_LOG: {
        auto* le = static_cast<EngineLogEvent*>(e);
        OnEngineLog(le->m_text, le->m_level);
        if (le->m_bPortLost)
            OnPortLost(le->m_strLostReason);
        return true;
    }
    case WM_ENGINE_DONE:
        OnEngineDone(WPARAM(static_cast<EngineDoneEvent*>(e)->m_bPortLost), 0);
        return true;
    case WM_ENGINE_PROGRESS:
        OnEngineProgress(WPARAM(static_cast<EngineProgressEvent*>(e)->m_position), 0);
        return true;
    default:
        return CDialog::event(e);
    }
}

bool CLoaderDlg::eventFilter(QObject* watched, QEvent* e)
{
    if (e->type() == QEvent::Paint) {
        auto* w = qobject_cast<QWidget*>(watched);
        const QColor c = OnCtlColor(w);
        if (w && c.isValid() && w->palette().color(QPalette::WindowText) != c) {
            QPalette pal = w->palette();
            pal.setColor(QPalette::WindowText, c);
            w->setPalette(pal);
        }
    }
    return CDialog::eventFilter(watched, e);
}

void CLoaderDlg::done(int r)
{
    ShutDown();
    CDialog::done(r);
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
        if (g_hMainWnd == this)
            g_hMainWnd = nullptr;
    }
    m_pendingTimer.stop();
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
