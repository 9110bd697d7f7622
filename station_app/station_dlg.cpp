// SPDX-License-Identifier: MIT
#include "station_dlg.h"

#include "cli_path.h"
#include "data_exchange.h"
#include "engine.h"
#include "lane_tile.h"
#include "loader_dlg.h"
#include "local_time.h"
#include "port_rates.h"
#include "serial_port.h"
#include "station_resource.h"
#include "station_template.h"
#include "stop_signal.h"
#include "usb_identity.h"
#include "wait_port.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

StopQuestion g_pfnAskStopAndQuit = AskStopAndQuitWithBox;

namespace {

// The controller is stepped often, so that a child's output never waits
// long in its pipe; the tiles are drawn a few times a second at most, which
// is as often as a person reads them and keeps 32 lanes cheap to show.
constexpr UINT_PTR kStepTimer = 1;
constexpr UINT kStepMs = 20;
constexpr UINT_PTR kPaintTimer = 2;
constexpr UINT kPaintMs = 250;

constexpr int kModeOnce = 0;
constexpr int kModeLoop = 1;

COLORREF LevelColor(const std::string& level)
{
    if (level == "error")
        return LogLevelColor(LOG_ERROR);
    if (level == "notice")
        return LogLevelColor(LOG_NOTICE);
    return LogLevelColor(LOG_INFO);
}

// The usb identity of the adapter behind a port, when the listing knows it.
std::string AdapterOf(const std::string& port)
{
    if (IsUsbIdentity(port))
        return port;
    const std::string path = ResolvePortPath(port);
    for (const PortInfo& info : CurrentPortListing())
        if (info.path == path || info.path == port)
            return info.usbIdentity;
    return "";
}

// A lane's tile before its first start.
TileContent ReadyTile(const std::string& port)
{
    Lane idle;
    idle.port = port;
    idle.adapter = AdapterOf(port);
    TileContent t = LaneTile(idle);
    t.word = "READY";
    t.lines = {"press Start all", ""};
    return t;
}

const char kNoPorts[] = "No ports: tick the boxes' ports under Ports.";

}  // namespace

std::string StopAndQuitText(int running)
{
    return std::to_string(running) + " downloads are running. Stop them and quit?";
}

// clang-format off
BEGIN_MESSAGE_MAP(CStationDlg, CDialog)
    ON_BN_CLICKED(IDC_ST_START, &CStationDlg::OnStartAll)
    ON_BN_CLICKED(IDC_ST_STOP, &CStationDlg::OnStopAll)
    ON_BN_CLICKED(IDC_ST_CHOOSE, &CStationDlg::OnChooseFile)
    ON_TGN_SELCHANGE(IDC_ST_TILES, &CStationDlg::OnTileSelChange)
    ON_MBN_DROPDOWN(IDC_ST_PORTS, &CStationDlg::OnDropDownPorts)
    ON_MBN_CHOSEN(IDC_ST_PORTS, &CStationDlg::OnPortChosen)
END_MESSAGE_MAP()
// clang-format on

CStationDlg::CStationDlg(const StationOptions& options, CDialog* pParent)
    : CDialog(StationDialogTemplate(), pParent), m_options(options), m_portsTicked(options.ports.empty())
{
}

CStationDlg::~CStationDlg() = default;

const std::vector<Lane>& CStationDlg::Lanes() const
{
    static const std::vector<Lane> none;
    return m_station ? m_station->Lanes() : none;
}

int CStationDlg::SendingCount() const
{
    return int(std::count_if(Lanes().begin(), Lanes().end(),
                             [](const Lane& l) { return l.running && LaneLook(l) == TileLook::Sending; }));
}

void CStationDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_ST_LOG, m_log);
    DDX_Control(pDX, IDC_ST_RATE, m_rate);
    DDX_Control(pDX, IDC_ST_MODE, m_mode);
}

bool CStationDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    if (!m_tiles.IsAttached())
        m_tiles.Attach(this, IDC_ST_TILES);
    if (!m_ports.IsAttached())
        m_ports.Attach(this, IDC_ST_PORTS);
    SetMainFrameIcon();
    m_log.SetReadOnly(true);
    m_log.SetLogFont(9);

    int rateIndex = -1;
    for (size_t i = 0; i < kPortRateCount; ++i) {
        m_rate.AddString(CString(std::to_string(kPortRates[i])));
        if (kPortRates[i] == m_options.baud)
            rateIndex = int(i);
    }
    if (rateIndex < 0)
        rateIndex = m_rate.AddString(CString(std::to_string(m_options.baud)));
    m_rate.SetCurSel(rateIndex);
    m_mode.AddString("Once");
    m_mode.AddString("Loop");
    m_mode.SetCurSel(m_options.once ? kModeOnce : kModeLoop);
    SetFile(m_options.file);

    // The lanes are shown before they start, waiting for the operator's Start.
    m_tiles.SetTileCount(int(m_options.ports.size()));
    for (size_t i = 0; i < m_options.ports.size(); ++i)
        m_tiles.SetTile(int(i), ReadyTile(m_options.ports[i]));
    m_logs.assign(m_options.ports.size(), {});
    m_dirty.assign(m_options.ports.size(), false);
    if (!m_options.ports.empty()) {
        m_tiles.SetCurSel(0);
        ShowLog(0);
    }
    RefreshButtons();
    RefreshStatus();
    SetTimer(kPaintTimer, kPaintMs);
    if (m_options.start)
        StartAll();
    return true;
}

void CStationDlg::SetFile(const std::string& path)
{
    m_options.file = path;
    SetDlgItemText(IDC_ST_FILE, CString(path));
}

void CStationDlg::OnDropDownPorts()
{
    // Read again each time: adapters come and go on a bench.
    std::vector<MenuItem> items;
    m_menuPorts.clear();
    auto ticked = [&](const std::string& p) {
        return std::find(m_options.ports.begin(), m_options.ports.end(), p) != m_options.ports.end();
    };
    for (const PortInfo& info : CurrentPortListing()) {
        MenuItem item;
        // After the tab: the adapter, in the menu's second column.
        item.text = CString(info.shortName + (info.usbIdentity.empty() ? "" : "\t" + info.usbIdentity));
        item.checked = ticked(info.path);
        items.push_back(item);
        m_menuPorts.push_back(info.path);
    }
    // A lane whose port has gone stays offered, so that it can be unticked.
    for (const std::string& p : m_options.ports)
        if (std::find(m_menuPorts.begin(), m_menuPorts.end(), p) == m_menuPorts.end()) {
            MenuItem item;
            item.text = CString(PortShortName(p) + "\tnot found now");
            item.checked = true;
            items.push_back(item);
            m_menuPorts.push_back(p);
        }
    if (items.empty()) {
        MenuItem none;
        none.text = "No serial ports found";
        none.enabled = false;
        items.push_back(none);
        m_menuPorts.push_back("");
    }
    m_ports.SetItems(items);
}

void CStationDlg::OnPortChosen()
{
    const int chosen = m_ports.GetChosen();
    if (Active() || chosen < 0 || size_t(chosen) >= m_menuPorts.size() || m_menuPorts[size_t(chosen)].empty())
        return;
    const std::string port = m_menuPorts[size_t(chosen)];
    std::vector<std::string> ports = m_options.ports;
    const auto at = std::find(ports.begin(), ports.end(), port);
    if (at != ports.end()) {
        // The selection stays on its lane; the removed lane's goes to the first.
        const int sel = m_tiles.GetCurSel();
        const std::string selected = sel >= 0 && size_t(sel) < ports.size() ? ports[size_t(sel)] : "";
        ports.erase(at);
        const auto keep = std::find(ports.begin(), ports.end(), selected);
        SetPorts(ports, keep != ports.end() ? int(keep - ports.begin()) : (ports.empty() ? -1 : 0));
    } else {
        // A new lane comes last, where the operator looks for it, and is selected.
        ports.push_back(port);
        SetPorts(ports, int(ports.size()) - 1);
    }
}

void CStationDlg::SetPorts(const std::vector<std::string>& ports, int select)
{
    std::vector<TileContent> tiles;
    std::vector<std::vector<LogEntry>> logs;
    for (const std::string& p : ports) {
        const auto had = std::find(m_options.ports.begin(), m_options.ports.end(), p);
        if (had == m_options.ports.end()) {
            tiles.push_back(ReadyTile(p));
            logs.emplace_back();
        } else {
            const size_t i = size_t(had - m_options.ports.begin());
            tiles.push_back(m_tiles.GetTile(int(i)));
            logs.push_back(std::move(m_logs[i]));
        }
    }
    // The last run's lanes were the old ports; what they showed stays on
    // the tiles, and the next Start all runs the new ones.
    m_station.reset();
    m_message.clear();
    m_options.ports = ports;
    m_logs = std::move(logs);
    m_dirty.assign(ports.size(), false);
    m_tiles.SetTileCount(int(ports.size()));
    for (size_t i = 0; i < tiles.size(); ++i)
        m_tiles.SetTile(int(i), tiles[i]);
    m_tiles.SetCurSel(select);
    ShowLog(select);
    RefreshButtons();
    RefreshStatus();
}

void CStationDlg::OnChooseFile()
{
    FileChooserRequest request;
    request.filter = "Image files (*.dat*)|*.dat*|All files (*)|*||";
    request.defaultExt = "dat";
    request.initialName = CString(m_options.file);
    CString path;
    if (g_pfnChooseFile(request, &path))
        SetFile(path.Str());
}

void CStationDlg::OnStartAll()
{
    StartAll();
}

void CStationDlg::StartAll()
{
    if (Active())
        return;
    m_message.clear();
    if (m_options.ports.empty()) {
        m_message = kNoPorts;
    } else if (m_options.file.empty()) {
        m_message = "Choose the image file first.";
    }
    if (m_message.empty() && !m_results.IsOpen()) {
        // A line must not run without its record: no results file, no start.
        const std::string path = m_options.results.empty() ? DefaultResultsPath() : m_options.results;
        std::string why;
        if (!m_results.Open(path, &why))
            m_message = "The results file " + path + " cannot be written (" + why + "); the station does not start.";
    }
    if (!m_message.empty()) {
        RefreshStatus();
        return;
    }
    const int rate = m_rate.GetCurSel();
    StationConfig config;
    config.ports = m_options.ports;
    config.job.executable = CliExecutable();
    config.job.file = m_options.file;
    config.job.baud = rate >= 0 ? uint32_t(std::stoul(m_rate.GetLBText(rate).Str())) : m_options.baud;
    config.job.image = true;
    // Once is station mode with one box per port: boxes count, are recorded
    // and wait for their ports as in Loop.
    config.job.loop = true;
    config.boxesPerLane = m_mode.GetCurSel() == kModeLoop ? 0 : 1;
    config.adapterOf = AdapterOf;
    config.portPresent = [](const std::string& port) {
        const std::string path = ResolvePortPath(port);
        return !path.empty() && PortPathPresent(path);
    };
    m_station.reset();
    m_station = std::make_unique<StationController>(std::move(config), *this);
    m_dirty.assign(m_options.ports.size(), true);
    m_stepping = true;
    SetTimer(kStepTimer, kStepMs);
    RefreshTiles();
    RefreshButtons();
    RefreshStatus();
}

void CStationDlg::OnStopAll()
{
    // Stopping cuts running transfers short as closing does, and asks the
    // same question first.
    const int sending = SendingCount();
    if (sending > 0) {
        if (g_pfnAskStopAndQuit(this, sending))
            StopAndQuit();
        return;
    }
    if (m_station)
        m_station->Stop();
    RefreshButtons();
}

void CStationDlg::StopAndQuit()
{
    m_quitWhenStopped = true;
    if (Active()) {
        m_station->Stop();
        RefreshButtons();
        return;
    }
    EndDialog(IDCANCEL);
}

void CStationDlg::OnOK()
{
    // Enter starts the lanes (Start all is the default button) and never
    // closes the window.
    OnStartAll();
}

void CStationDlg::OnCancel()
{
    // Esc does not close a station window by accident; the close box does.
}

void CStationDlg::OnClose()
{
    const int sending = SendingCount();
    if (sending > 0 && !g_pfnAskStopAndQuit(this, sending))
        return;
    StopAndQuit();
}

void CStationDlg::OnTimer(UINT_PTR nIDEvent)
{
    if (nIDEvent == kStepTimer && m_station) {
        if (!m_station->Step(0)) {
            m_stepping = false;
            m_endTotals = m_station->Totals();
            KillTimer(kStepTimer);
            RefreshTiles();
            RefreshButtons();
            RefreshStatus();
            if (m_quitWhenStopped)
                EndDialog(IDCANCEL);
        }
        return;
    }
    if (nIDEvent == kPaintTimer) {
        if (StopSignalled() && !m_quitWhenStopped)
            StopAndQuit();
        RefreshTiles();
        RefreshStatus();
    }
}

void CStationDlg::OnDestroy()
{
    KillTimer(kStepTimer);
    KillTimer(kPaintTimer);
    CDialog::OnDestroy();
}

void CStationDlg::OnTileSelChange()
{
    ShowLog(m_tiles.GetCurSel());
}

size_t CStationDlg::LaneIndex(const Lane& lane) const
{
    return size_t(&lane - m_station->Lanes().data());
}

void CStationDlg::AddLog(size_t lane, COLORREF color, const std::string& text)
{
    if (lane >= m_logs.size())
        return;
    LogEntry e{LocalClockText(time(nullptr)) + "  " + text + "\r\n", color};
    if (int(lane) == m_tiles.GetCurSel())
        m_log.AppendColoredText(CString(e.text), e.color);
    m_logs[lane].push_back(std::move(e));
}

void CStationDlg::ShowLog(int lane)
{
    SetDlgItemText(IDC_ST_LOG, "");
    if (lane < 0 || size_t(lane) >= m_logs.size()) {
        SetDlgItemText(IDC_ST_LOG_LABEL, "Log");
        return;
    }
    SetDlgItemText(IDC_ST_LOG_LABEL, CString("Log of " + m_options.ports[size_t(lane)]));
    for (const LogEntry& e : m_logs[size_t(lane)])
        m_log.AppendColoredText(CString(e.text), e.color);
}

void CStationDlg::LaneLog(const Lane& lane, const std::string& level, const std::string& text)
{
    AddLog(LaneIndex(lane), LevelColor(level), text);
}

void CStationDlg::LaneNoticed(const Lane& lane, LaneNotice notice, const std::string& detail)
{
    std::string text;
    switch (notice) {
    case LaneNotice::SpawnFailed:
        text = "The download could not be started: " + detail;
        break;
    case LaneNotice::TimeLimitReached:
        text = "The box had its time; its download is stopped.";
        break;
    case LaneNotice::KilledAfterStop:
        text = "The download did not end after the stop and was killed.";
        break;
    }
    AddLog(LaneIndex(lane), LogLevelColor(LOG_ERROR), text);
}

void CStationDlg::RunEnded(const Lane& lane, const RunEnd& end)
{
    const size_t i = LaneIndex(lane);
    m_dirty[i] = true;
    if (end.verdict.kind == RunKind::Passed)
        AddLog(i, LogLevelColor(LOG_INFO), "PASS");
    else if (end.verdict.kind == RunKind::Failed)
        AddLog(i, LogLevelColor(LOG_ERROR), "FAIL" + (lane.lastReason.empty() ? "" : ": " + lane.lastReason));
}

void CStationDlg::LaneChanged(const Lane& lane)
{
    m_dirty[LaneIndex(lane)] = true;
}

void CStationDlg::BoxRecorded(const Lane& lane, const BoxRecord& record)
{
    std::string why;
    if (m_results.Append(record, &why))
        return;
    m_message = "The results file " + m_results.Path() + " cannot be written (" + why + "); the station stopped.";
    AddLog(LaneIndex(lane), LogLevelColor(LOG_ERROR), m_message);
    m_station->Stop();
    RefreshButtons();
    RefreshStatus();
}

void CStationDlg::RefreshTiles()
{
    const std::vector<Lane>& lanes = Lanes();
    for (size_t i = 0; i < lanes.size() && i < m_dirty.size(); ++i) {
        if (!m_dirty[i])
            continue;
        m_dirty[i] = false;
        m_tiles.SetTile(int(i), LaneTile(lanes[i]));
    }
}

void CStationDlg::RefreshStatus()
{
    std::string text;
    if (!m_message.empty()) {
        text = m_message;
    } else if (m_station) {
        const StationTotals totals = Active() ? m_station->Totals() : m_endTotals;
        char buf[160];
        snprintf(buf, sizeof buf, "Boxes %d   passed %d   failed %d   %.0f boxes per hour   Results: ", totals.boxes,
                 totals.passed, totals.failed, totals.boxesPerHour);
        text = buf + m_results.Path();
    } else if (m_options.ports.empty()) {
        text = kNoPorts;
    } else {
        const size_t n = m_options.ports.size();
        text = std::to_string(n) + (n == 1 ? " port" : " ports") + ", waiting for Start all";
    }
    SetDlgItemText(IDC_ST_STATUS, CString(text));
}

void CStationDlg::RefreshButtons()
{
    const bool active = Active();
    const bool stopping = m_station && m_station->Stopping();
    EnableDlgItem(IDC_ST_START, !active && !m_options.ports.empty());
    // Ports given on the command line are the station's; ticked ones change
    // only while no lane runs.
    EnableDlgItem(IDC_ST_PORTS, m_portsTicked && !active);
    EnableDlgItem(IDC_ST_STOP, active && !stopping);
    EnableDlgItem(IDC_ST_CHOOSE, !active);
    EnableDlgItem(IDC_ST_RATE, !active);
    EnableDlgItem(IDC_ST_MODE, !active);
}
