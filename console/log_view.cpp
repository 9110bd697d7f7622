// SPDX-License-Identifier: MIT
// The log view and the engine's notifications: the two sinks the engine
// calls on its worker thread, and the handlers that show their lines and
// move the progress bar on the user-interface thread.
#include "calendar_time.h"
#include "console_globals.h"
#include "engine.h"
#include "engine_events.h"
#include "loader_dlg.h"

#include <ctime>
#include <deque>

namespace {

// Lines logged and not yet shown, oldest first; one WM_ENGINE_LOG is on
// its way for each. Guarded by g_mainWndLock.
std::deque<EngineLine> g_engineLines;

LogTime LocalClock()
{
    const tm t = LocalTime(time(nullptr));
    return LogTime{t.tm_hour, t.tm_min, t.tm_sec};
}

}  // namespace

LogClock g_pfnLogClock = LocalClock;

COLORREF LogLevelColor(uint8_t level)
{
    switch (level) {
    case LOG_ERROR:
        return RGB(255, 0, 0);
    case LOG_NOTICE:
        return RGB(255, 128, 0);
    default:
        return RGB(0, 123, 22);
    }
}

void CLoaderDlg::SetUpLogView()
{
    // Read-only for the operator, who can still select and copy.
    m_log.SetReadOnly(true);
    m_log.SetLogFont(Template().pointSize);
}

bool TakeEngineLine(EngineLine* line)
{
    std::lock_guard<std::mutex> lock(g_mainWndLock);
    if (g_engineLines.empty())
        return false;
    *line = std::move(g_engineLines.front());
    g_engineLines.pop_front();
    return true;
}

void DropEngineLines()
{
    std::lock_guard<std::mutex> lock(g_mainWndLock);
    g_engineLines.clear();
}

// A LOG_DONE line first tells the dialog the download has ended, then
// arrives itself as an error line. The engine marks the port lost before it
// logs that ending, so the verdict read here belongs to this line.
int ConsoleLogSink(const char* text, int level)
{
    uint8_t lvl = uint8_t(level & 0xFF);
    std::lock_guard<std::mutex> lock(g_mainWndLock);
    if (!g_hMainWnd)
        return 0;
    EngineLine line;
    if (lvl == LOG_DONE) {
        line.bPortLost = g_bEngineLineLost.load() != 0;
        PostDialogMessage(g_hMainWnd, WM_ENGINE_DONE, line.bPortLost ? 1 : 0, 0);
        lvl = LOG_ERROR;
        if (line.bPortLost)
            line.strLostReason = CString::FromLocal8Bit(EngineLineLostReason());
    }
    line.text = CString::FromLocal8Bit(text);
    line.level = lvl;
    g_engineLines.push_back(std::move(line));
    if (!PostDialogMessage(g_hMainWnd, WM_ENGINE_LOG, 0, 0)) {
        // No message will come for it: the line is lost, as its notification.
        g_engineLines.pop_back();
        return 0;
    }
    return 1;
}

void ConsoleProgressSink(int percent)
{
    std::lock_guard<std::mutex> lock(g_mainWndLock);
    if (g_hMainWnd)
        PostDialogMessage(g_hMainWnd, WM_ENGINE_PROGRESS, WPARAM(percent), 0);
}

LRESULT CLoaderDlg::OnEngineLog(WPARAM, LPARAM)
{
    EngineLine line;
    if (!TakeEngineLine(&line))
        return 0;
    AppendLog(line.text, line.level);
    if (line.bPortLost)
        OnPortLost(line.strLostReason);
    return 1;
}

LRESULT CLoaderDlg::OnEngineProgress(WPARAM wParam, LPARAM)
{
    return m_progress.SetPos(int(wParam));
}

void CLoaderDlg::AppendLog(const CString& text, uint8_t level)
{
    const LogTime now = g_pfnLogClock();
    CString line;
    line.Format("%02d:%02d:%02d  %s", now.hour, now.minute, now.second, text.GetString());
    // Always at the end, whatever the operator selected, in the level's
    // colour; the line keeps the break its text carries.
    m_log.AppendColoredText(line, LogLevelColor(level));
}
