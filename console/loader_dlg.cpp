// SPDX-License-Identifier: MIT
#include "loader_dlg.h"

#include "about_dlg.h"
#include "app_icon.h"
#include "console_globals.h"
#include "data_exchange.h"
#include "dialog_controls.h"
#include "engine.h"
#include "engine_events.h"
#include "resource.h"
#include "serial_port.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
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
    connect(qobject_cast<DropDownComboBox*>(GetDlgItem(IDC_PORT)), &DropDownComboBox::droppingDown, this,
            &CLoaderDlg::OnDropDownPort);
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
    auto* baud = qobject_cast<QComboBox*>(GetDlgItem(IDC_BAUD));
    // The eight rates of the template, then the faster ones USB adapters
    // offer; the eight keep their indexes.
    for (uint32_t rate : BaudRateTable)
        baud->addItem(QString::number(rate));
    // COM1..COM4, then the machine's other serial ports by their short names.
    OnDropDownPort();
    CDialog::OnInitDialog();
    SetUpLogView();

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

// No keystroke may leave the program half-way through a flash. Enter never
// ends the dialog: on a push button it presses that button, on a combo box
// it only confirms the choice, in the log it does nothing. Esc ends the
// program only while no download runs.
void CLoaderDlg::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        if (auto* b = qobject_cast<QPushButton*>(focusWidget()); b && b->isEnabled())
            b->click();
        e->accept();
        return;
    }
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
        if (!g_bDownloading)
            reject();
        e->accept();
        return;
    }
    CDialog::keyPressEvent(e);
}

bool AskAbortAndQuitWithBox(QWidget* parent)
{
    return QMessageBox::question(parent, parent ? parent->windowTitle() : QString(),
                                 QStringLiteral("A download is running. Abort it and quit?"),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

QuitQuestion g_pfnAskAbortAndQuit = AskAbortAndQuitWithBox;

// The close box and the window menu's Close. While a download runs the
// operator is asked first; Yes ends as ever: abort, wait for the worker,
// quit.
void CLoaderDlg::closeEvent(QCloseEvent* e)
{
    if (g_bDownloading && !m_bShutDown && !(g_pfnAskAbortAndQuit && g_pfnAskAbortAndQuit(this))) {
        e->ignore();
        return;
    }
    CDialog::closeEvent(e);
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
