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

#include <algorithm>

PortLister g_pfnListPorts = ConsoleExtraPortPaths;

std::string CLoaderDlg::PortPathAt(int index) const
{
    if (index < 0 || size_t(index) >= m_portPaths.size())
        return std::string();
    return m_portPaths[size_t(index)];
}

int CLoaderDlg::AddPortPath(const CString& path)
{
    // A port name ("COM7") stands for its device path, so it finds the
    // entry the list already has for it.
    const std::string p = PortDevicePath(path.Str());
    int index = -1;
    for (size_t i = 0; i < m_portPaths.size(); ++i)
        if (m_portPaths[i] == p)
            index = int(i);
    if (index < 0) {
        CComboBox port;
        port.Attach(this, IDC_PORT);
        port.AddString(PortShortName(p));
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
    CComboBox port;
    port.Attach(this, IDC_PORT);
    const std::string current = PortPathAt(port.GetCurSel());
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

    port.ResetContent();
    for (const std::string& p : paths)
        port.AddString(PortShortName(p));
    m_portPaths = paths;
    // Before the first data exchange nothing is selected yet: m_nPort holds
    // the start-up choice.
    const auto at = std::find(paths.begin(), paths.end(), current);
    if (at != paths.end())
        m_nPort = int(at - paths.begin());
    port.SetCurSel(m_nPort);
}

void CLoaderDlg::OnConnect()
{
    UpdateData(true);
    if (g_bConnected) {
        ClosePort();
        return;
    }

    const std::string path = PortPathAt(m_nPort);
    const std::string name = PortShortName(path);
    const uint32_t baud = (m_nBaud >= 0 && m_nBaud < kBaudRateCount) ? kPortRates[m_nBaud] : kPortDefaultRate;
    PortOpenError error;
    g_hPort = path.empty() ? nullptr : PortOpenDevice(path.c_str(), baud, &error);
    if (!g_hPort) {
        m_strLink = "ERR";
        UpdateData(false);
        CString line;
        line.Format("%s:%u-%d-%d Open failed!\r\n", name.c_str(), baud, 8, 1);
        AppendLog(line, LOG_ERROR);
        // Why, in the system's words: missing, busy (and by whom), or not
        // permitted (and which group opens it).
        if (!path.empty())
            AppendLog(CString::FromLocal8Bit(PortOpenFailureReason(path, error).c_str()) + "\r\n", LOG_ERROR);
        return;
    }
    // 8N1, raw, exclusive, queues and time-outs: all set by PortOpenDevice.
    g_bConnected = 1;
    SetDlgItemText(IDC_CONNECT, "DisConnect");
    EnableDlgItem(IDC_PORT, false);
    EnableDlgItem(IDC_BAUD, false);
    m_strLink = "OK";
    CString line;
    line.Format("%s:%u-%d-%d Open Successful!\r\n", name.c_str(), baud, 8, 1);
    AppendLog(line, LOG_INFO);
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
    SetDlgItemText(IDC_CONNECT, "Connect");
    EnableDlgItem(IDC_PORT, true);
    EnableDlgItem(IDC_BAUD, true);
    g_bConnected = 0;
    m_strLink.Empty();
    CString line;
    line.Format("%s Close!\r\n", PortShortName(path).c_str());
    AppendLog(line, LOG_INFO);
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
void CLoaderDlg::OnPortLost(const CString& reason)
{
    UpdateData(true);
    const std::string name = PortShortName(PortPathAt(m_nPort));
    const CString why = reason.IsEmpty() ? CString("device gone") : reason;
    CString line;
    line.Format("%s: %s\r\n", name.c_str(), why.GetString());
    AppendLog(line, LOG_ERROR);
    if (g_bConnected)
        ClosePort(false);
    m_strLink = "ERR";
    UpdateData(false);
}

COLORREF CLoaderDlg::OnCtlColor(int nID)
{
    // The indicator's colour follows the word it shows: green for "OK",
    // red for "ERR" (a failed open or a lost port, both while closed).
    if (nID == IDC_LINK)
        return GetDlgItemText(IDC_LINK) == "OK" ? RGB(0, 128, 0) : RGB(255, 0, 0);
    if (nID == IDC_STATUS)
        return RGB(200, 0, 0);
    return CDialog::OnCtlColor(nID);
}
