// The Connect/DisConnect toggle, the port list and the text colours of the
// link indicator and the status line.
#include "console_globals.h"
#include "engine.h"
#include "loader_dlg.h"
#include "resource.h"
#include "serial_port.h"

#include <QComboBox>
#include <QPushButton>

const uint32_t BaudRateTable[8] = {2400, 4800, 9600, 14400, 19200, 38400, 57600, 115200};

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
    UpdateData(true);
    m_nPort = index;
    UpdateData(false);
    return index;
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
    const uint32_t baud = BaudRateTable[(m_nBaud >= 0 && m_nBaud < 8) ? m_nBaud : 7];
    g_hPort = path.empty() ? nullptr : PortOpenDevice(path.c_str(), baud, nullptr);
    if (!g_hPort) {
        m_strLink = QStringLiteral("ERR");
        UpdateData(false);
        AppendLog(QString::asprintf("%s:%u-%d-%d Open failed!\r\n", name.toUtf8().constData(), baud, 8, 1),
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
void CLoaderDlg::ClosePort()
{
    if (g_bDownloading)
        OnStart();
    if (g_bEngineBusy.load())
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

QColor CLoaderDlg::OnCtlColor(QWidget* pWnd) const
{
    if (!pWnd)
        return QColor();
    if (pWnd == GetDlgItem(IDC_LINK))
        return g_bConnected == 1 ? QColor(0, 128, 0) : QColor(255, 0, 0);
    if (pWnd == GetDlgItem(IDC_STATUS))
        return QColor(200, 0, 0);
    return QColor();
}
