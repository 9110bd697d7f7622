// SPDX-License-Identifier: MIT
// The Connect/DisConnect toggle, the port list and the text colours of the
// link indicator and the status line.
#include "console_globals.h"
#include "engine.h"
#include "extra_ports.h"
#include "loader_dlg.h"
#include "port_open_failure.h"
#include "resource.h"
#include "serial_port.h"

#include <QComboBox>
#include <QPushButton>

#include <algorithm>

const uint32_t BaudRateTable[kBaudRateCount] = {2400,  4800,   9600,   14400,  19200, 38400,
                                                57600, 115200, 230400, 460800, 921600};

PortLister g_pfnListPorts = ConsoleExtraPortPaths;

std::string CLoaderDlg::PortPathAt(int index) const
{
    if (index < 0 || size_t(index) >= m_portPaths.size())
        return std::string();
    return m_portPaths[size_t(index)];
}

int CLoaderDlg::AddPortPath(const QString& path)
{
    const std::string p = path.toStdString();
    int index = -1;
    for (size_t i = 0; i < m_portPaths.size(); ++i)
        if (m_portPaths[i] == p)
            index = int(i);
    if (index < 0) {
        auto* port = qobject_cast<QComboBox*>(GetDlgItem(IDC_PORT));
        port->addItem(QString::fromStdString(PortShortName(p)));
        m_portPaths.push_back(p);
        index = int(m_portPaths.size()) - 1;
    }
    if (index >= 4 && std::find(m_addedPaths.begin(), m_addedPaths.end(), p) == m_addedPaths.end())
        m_addedPaths.push_back(p);
    UpdateData(true);
    m_nPort = index;
    UpdateData(false);
    return index;
}

void CLoaderDlg::OnDropDownPort()
{
    auto* port = qobject_cast<QComboBox*>(GetDlgItem(IDC_PORT));
    const std::string current = PortPathAt(port->currentIndex());
    auto has = [](const std::vector<std::string>& list, const std::string& p) {
        return std::find(list.begin(), list.end(), p) != list.end();
    };

    std::vector<std::string> paths;
    for (const char* com : {"COM1", "COM2", "COM3", "COM4"})
        paths.push_back(PortDevicePath(com));
    std::vector<std::string> found = g_pfnListPorts ? g_pfnListPorts() : std::vector<std::string>();
    // A port that vanished while selected keeps its place among the found
    // ones (they come sorted by path) until the operator picks another.
    if (!current.empty() && !has(paths, current) && !has(m_addedPaths, current) && !has(found, current))
        found.insert(std::lower_bound(found.begin(), found.end(), current), current);
    for (const std::vector<std::string>* list : {&found, &m_addedPaths})
        for (const std::string& p : *list)
            if (!has(paths, p))
                paths.push_back(p);
    if (paths == m_portPaths)
        return;

    port->clear();
    for (const std::string& p : paths)
        port->addItem(QString::fromStdString(PortShortName(p)));
    m_portPaths = paths;
    // Before the first data exchange nothing is selected yet: m_nPort holds
    // the start-up choice.
    const auto at = std::find(paths.begin(), paths.end(), current);
    if (at != paths.end())
        m_nPort = int(at - paths.begin());
    port->setCurrentIndex(m_nPort);
}

void CLoaderDlg::OnConnect()
{
    UpdateData(true);
    if (g_bConnected) {
        ClosePort();
        return;
    }

    const std::string path = PortPathAt(m_nPort);
    const QString name = QString::fromStdString(PortShortName(path));
    const uint32_t baud = BaudRateTable[(m_nBaud >= 0 && m_nBaud < kBaudRateCount) ? m_nBaud : 7];
    PortOpenError error;
    g_hPort = path.empty() ? nullptr : PortOpenDevice(path.c_str(), baud, &error);
    if (!g_hPort) {
        m_strLink = QStringLiteral("ERR");
        UpdateData(false);
        AppendLog(QString::asprintf("%s:%u-%d-%d Open failed!\r\n", name.toUtf8().constData(), baud, 8, 1),
                  LOG_ERROR);
        // Why, in the system's words: missing, busy (and by whom), or not
        // permitted (and which group opens it).
        if (!path.empty())
            AppendLog(QString::fromStdString(PortOpenFailureReason(path, error)) + QStringLiteral("\r\n"),
                      LOG_ERROR);
        return;
    }
    // 8N1, raw, exclusive, queues and time-outs: all set by PortOpenDevice.
    g_bConnected = 1;
    SetDlgItemText(IDC_CONNECT, QStringLiteral("DisConnect"));
    EnableDlgItem(IDC_PORT, false);
    EnableDlgItem(IDC_BAUD, false);
    m_strLink = QStringLiteral("OK");
    AppendLog(QString::asprintf("%s:%u-%d-%d Open Successful!\r\n", name.toUtf8().constData(), baud, 8, 1),
              LOG_INFO);
    UpdateData(false);
}

// DisConnect while a download runs first aborts it and waits for the worker:
// the worker reads and writes through this handle until it has ended, so the
// handle is closed only then. Should the worker not stop within the bound,
// the close itself is deferred until it has, and the console goes on as
// closed.
void CLoaderDlg::ClosePort(bool waitForWorker)
{
    if (g_bDownloading)
        OnStart();
    if (waitForWorker && g_bEngineBusy.load())
        EngineWaitIdle(kWorkerStopWaitMs);
    const std::string path = PortPathAt(m_nPort);
    ReleasePort(g_hPort);
    g_hPort = nullptr;
    SetDlgItemText(IDC_CONNECT, QStringLiteral("Connect"));
    EnableDlgItem(IDC_PORT, true);
    EnableDlgItem(IDC_BAUD, true);
    g_bConnected = 0;
    m_strLink.clear();
    AppendLog(QString::asprintf("%s Close!\r\n", PortShortName(path).c_str()), LOG_INFO);
    UpdateData(false);
}

// A lost port ends the download through the engine's LOG_DONE path, so the
// Start/Abort toggle has already run when its line arrives here. Nothing can
// pass through the port any more: the console closes it as DisConnect would,
// without waiting, because the worker is ending by itself and the handle is
// released once it has. The log reads the engine's "Serial port lost!" line,
// the system's words for it, then the usual "<port> Close!" line, so the
// operator sees the port was closed and must Connect again. "ERR" stays on
// the indicator until then.
void CLoaderDlg::OnPortLost(const QString& reason)
{
    UpdateData(true);
    const QString name = QString::fromStdString(PortShortName(PortPathAt(m_nPort)));
    const QString why = reason.isEmpty() ? QStringLiteral("device gone") : reason;
    AppendLog(QString::asprintf("%s: %s\r\n", name.toUtf8().constData(), why.toUtf8().constData()), LOG_ERROR);
    if (g_bConnected)
        ClosePort(false);
    m_strLink = QStringLiteral("ERR");
    UpdateData(false);
}

QColor CLoaderDlg::OnCtlColor(QWidget* pWnd) const
{
    if (!pWnd)
        return QColor();
    // The indicator's colour follows the word it shows: green for "OK",
    // red for "ERR" (a failed open or a lost port, both while closed).
    if (pWnd == GetDlgItem(IDC_LINK))
        return GetDlgItemText(IDC_LINK) == QLatin1String("OK") ? QColor(0, 128, 0) : QColor(255, 0, 0);
    if (pWnd == GetDlgItem(IDC_STATUS))
        return QColor(200, 0, 0);
    return QColor();
}
