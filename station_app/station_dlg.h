// SPDX-License-Identifier: MIT
// The station window's handlers, written once on the dialog layer: a tile
// per lane, the selected lane's log, the totals. Its logic is the station
// controller's; the window shows lanes and forwards the operator's commands.
#pragma once

#include "dialog_base.h"
#include "dialog_controls.h"
#include "menu_button.h"
#include "results_file.h"
#include "station_controller.h"
#include "station_options.h"
#include "tile_grid.h"

#include <memory>
#include <string>
#include <vector>

// Asked when the operator closes the window while boxes are being sent:
// true to stop them and quit. A seam for the tests.
using StopQuestion = bool (*)(CDialog* parent, int running);
extern StopQuestion g_pfnAskStopAndQuit;
// The window system's own message box (one per backend).
bool AskStopAndQuitWithBox(CDialog* parent, int running);
// The question's words.
std::string StopAndQuitText(int running);

class CStationDlg : public CDialog, public StationObserver {
public:
    explicit CStationDlg(const StationOptions& options, CDialog* pParent = nullptr);
    ~CStationDlg() override;

    // The lanes of the station that runs or ran last; empty before the first start.
    const std::vector<Lane>& Lanes() const;
    // Downloads whose box is being sent to (what closing the window would cut short).
    int SendingCount() const;
    // The station runs: started, and not yet ended (its lanes may wait for
    // their ports with no download process running).
    bool Active() const { return m_stepping; }
    // Stops every lane and ends the window once no download process is
    // left (a stop from outside: SIGTERM).
    void StopAndQuit();

    CTileGrid m_tiles;
    CMenuButton m_ports;
    CRichEditCtrl m_log;
    CComboBox m_rate;
    CComboBox m_mode;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    bool OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    void OnClose() override;
    void OnTimer(UINT_PTR nIDEvent) override;
    void OnDestroy() override;

    void OnStartAll();
    void OnStopAll();
    void OnChooseFile();
    void OnTileSelChange();
    // The Ports menu: the machine's ports as the listing has them now, the
    // lanes' ones ticked; ticking one adds its lane, unticking removes it.
    void OnDropDownPorts();
    void OnPortChosen();

    // StationObserver
    void ChildEvent(const Lane&, const std::string&) override {}
    void LaneLog(const Lane& lane, const std::string& level, const std::string& text) override;
    void BoxOutput(const Lane&, const std::vector<std::string>&) override {}
    void LaneNoticed(const Lane& lane, LaneNotice notice, const std::string& detail) override;
    void RunEnded(const Lane& lane, const RunEnd& end) override;
    void LaneChanged(const Lane& lane) override;
    void BoxRecorded(const Lane& lane, const BoxRecord& record) override;

    DECLARE_MESSAGE_MAP()

private:
    struct LogEntry {
        std::string text;  // with its time stamp and line break
        COLORREF color;
    };
    size_t LaneIndex(const Lane& lane) const;
    void AddLog(size_t lane, COLORREF color, const std::string& text);
    void StartAll();
    void RefreshTiles();
    void RefreshStatus();
    void RefreshButtons();
    void ShowLog(int lane);
    void SetFile(const std::string& path);
    // The lanes become these ports: a port that had a lane keeps its tile
    // and log, a new one is shown ready; the last run's lanes are let go.
    // Only while the station is not active.
    void SetPorts(const std::vector<std::string>& ports, int select);

    StationOptions m_options;
    std::unique_ptr<StationController> m_station;
    ResultsFile m_results;
    std::vector<std::vector<LogEntry>> m_logs;
    std::vector<bool> m_dirty;  // per lane: changed since its tile was drawn
    // Lanes ticked in the window rather than given on the command line.
    const bool m_portsTicked;
    std::vector<std::string> m_menuPorts;  // the port behind each item of the Ports menu
    bool m_stepping = false;
    // The totals as the station ended: its pace is over the time it ran,
    // not over the time the window has stayed open since.
    StationTotals m_endTotals;
    bool m_quitWhenStopped = false;
    std::string m_message;  // shown in the status line until the next start
};
