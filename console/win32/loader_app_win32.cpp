// SPDX-License-Identifier: MIT
// CLoaderApp on Win32: the main dialog, and the documentation's pictures.
//
// The pictures are taken from outside (scripts/screenshot.sh runs the
// program under Wine and a virtual X server and grabs the screen), so the
// program's part is only to bring the window into the state to be shown
// and say when it is there:
//   --screenshot FILE   once the window is ready, FILE is written with its
//                       place on the screen, "X Y WIDTH HEIGHT" in pixels,
//                       the same line goes to stderr as "marbrix: picture
//                       X Y WIDTH HEIGHT", the window is held unchanged for
//                       three seconds and the program ends (exit 0; 1 if the
//                       state was never reached).
//   --screenshot-download FILE --screenshot-at N
//                       the state: FILE chosen, Start pressed, the progress
//                       bar past N percent. While the window is held the
//                       download goes on, but its notifications are
//                       dropped, so the bar and the log stay as they are in
//                       the picture; the download is aborted at the end.
//   --screenshot-about FILE
//                       the About box first, the same way.
//   --screenshot-size WxH
//                       the main window enlarged to W x H pixels first.
#include "loader_app.h"

#include "about_dlg.h"
#include "app_win32.h"
#include "loader_dlg.h"
#include "resource.h"
#include "win32_backend.h"

#include <algorithm>
#include <cstdio>

namespace {

// How long the window is held for the picture, and how long a download may
// take to reach the asked-for progress.
constexpr DWORD kHoldMs = 3000;
constexpr DWORD kDownloadLimitMs = 60000;
// Settling: the window drawn, and the lines logged with the last block
// shown, before it is announced.
constexpr DWORD kSettleMs = 400;
constexpr UINT kStepMs = 50;

CString g_strShotFile;

bool ChooseShotFile(const FileChooserRequest&, CString* path)
{
    *path = g_strShotFile;
    return true;
}

// While the window is held, the dialog's own messages (the engine's
// notifications) are taken out of the thread's queue as they are fetched
// and dropped: the dialog ends after the hold, and its mailbox of log lines
// is emptied then anyway.
HWND g_hHeld = nullptr;
HHOOK g_hHoldHook = nullptr;

LRESULT CALLBACK HoldHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION && wParam == PM_REMOVE) {
        MSG* m = reinterpret_cast<MSG*>(lParam);
        if (g_hHeld && m->hwnd == g_hHeld && m->message >= WM_USER && m->message < 0xC000)
            m->message = WM_NULL;
    }
    return CallNextHookEx(g_hHoldHook, code, wParam, lParam);
}

void Hold(HWND hWnd)
{
    g_hHeld = hWnd;
    g_hHoldHook = SetWindowsHookExW(WH_GETMESSAGE, HoldHook, nullptr, GetCurrentThreadId());
}

void Release()
{
    if (g_hHoldHook)
        UnhookWindowsHookEx(g_hHoldHook);
    g_hHoldHook = nullptr;
    g_hHeld = nullptr;
}

bool Announce(HWND hWnd, const CString& file)
{
    RECT r;
    GetWindowRect(hWnd, &r);
    char line[96];
    snprintf(line, sizeof line, "%ld %ld %ld %ld", long(r.left), long(r.top), long(r.right - r.left),
             long(r.bottom - r.top));
    WriteStdErr(CString("marbrix: picture ") + line + "\n");
    FILE* f = OpenFileUtf8(file, "w");
    if (!f) {
        WriteStdErr(CString("marbrix: cannot write ") + file + "\n");
        return false;
    }
    fprintf(f, "%s\n", line);
    return fclose(f) == 0;
}

// The steps from the dialog's start to its picture, run by a thread timer
// inside the dialog's own modal loop. Without a picture file only the first
// (the port from the command line) is taken.
struct Shot {
    enum Phase { WaitShown, WaitProgress, Settle, Held, Done } phase = WaitShown;
    CDialog* dlg = nullptr;
    CLoaderApp* app = nullptr;
    CString file;
    bool main = false;  // the main dialog (port, size, download), not the About box
    DWORD since = 0;    // start of the current phase
    UINT_PTR timer = 0;
    int result = 0;
};
Shot* g_pShot = nullptr;

void Finish(Shot& s)
{
    s.phase = Shot::Done;
    KillTimer(nullptr, s.timer);
    s.timer = 0;
}

void EndShot(Shot& s, int result)
{
    s.result = result;
    Finish(s);
    Release();
    s.dlg->EndDialog(result);
}

// Once shown: the port, the size, and the download to be shown.
void SetUpMain(Shot& s, HWND w)
{
    auto& dlg = static_cast<CLoaderDlg&>(*s.dlg);
    if (!s.app->m_strPortPath.IsEmpty())
        dlg.AddPortPath(s.app->m_strPortPath);
    if (s.app->m_cxScreenshot > 0 && s.app->m_cyScreenshot > 0) {
        // Enlarged about the same centre, so it stays on the screen.
        RECT r;
        GetWindowRect(w, &r);
        const int cx = s.app->m_cxScreenshot, cy = s.app->m_cyScreenshot;
        const int x = std::max(0, int(r.left + r.right - cx) / 2), y = std::max(0, int(r.top + r.bottom - cy) / 2);
        SetWindowPos(w, nullptr, x, y, cx, cy, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (!s.file.IsEmpty() && !s.app->m_strScreenshotDownload.IsEmpty()) {
        g_strShotFile = s.app->m_strScreenshotDownload;
        g_pfnChooseFile = ChooseShotFile;
        dlg.OnBrowse();
        g_pfnChooseFile = ChooseFileWithDialog;
        dlg.OnStart();
        s.phase = Shot::WaitProgress;
    }
}

void CALLBACK ShotStep(HWND, UINT, UINT_PTR, DWORD)
{
    if (!g_pShot || g_pShot->phase == Shot::Done)
        return;
    Shot& s = *g_pShot;
    const DWORD now = GetTickCount();
    HWND w = Win32Window(*s.dlg);
    switch (s.phase) {
    case Shot::WaitShown:
        if (!w || !IsWindowVisible(w))
            return;
        s.phase = Shot::Settle;
        s.since = now;
        // Drawn as the window in use (an active caption) in the picture.
        if (!s.file.IsEmpty())
            SetForegroundWindow(w);
        if (s.main)
            SetUpMain(s, w);
        if (s.file.IsEmpty())
            Finish(s);
        return;
    case Shot::WaitProgress: {
        const int pos = int(SendMessageW(Win32Control(*s.dlg, IDC_PROGRESS), PBM_GETPOS, 0, 0));
        if (pos >= s.app->m_nScreenshotPercent) {
            s.phase = Shot::Settle;
            s.since = now;
        } else if (now - s.since > kDownloadLimitMs) {
            WriteStdErr("marbrix: the download did not get far enough for the picture\n");
            EndShot(s, 1);
        }
        return;
    }
    case Shot::Settle:
        // The lines that came with the last block get in; then the window
        // is frozen and drawn once more, whole, and announced a moment
        // later, once the drawing has reached the screen.
        if (now - s.since < kSettleMs)
            return;
        if (!g_hHoldHook) {
            Hold(w);
            RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
            s.since = now;
            return;
        }
        if (!Announce(w, s.file)) {
            EndShot(s, 1);
            return;
        }
        s.phase = Shot::Held;
        s.since = now;
        return;
    case Shot::Held:
        if (now - s.since >= kHoldMs)
            EndShot(s, 0);
        return;
    case Shot::Done:
        return;
    }
}

// Runs the dialog modally, taking its picture on the way when asked to.
int RunDialog(CDialog& dlg, CLoaderApp& app, const CString& file, bool main)
{
    if (file.IsEmpty() && !(main && !app.m_strPortPath.IsEmpty())) {
        dlg.DoModal();
        return 0;
    }
    Shot s;
    s.dlg = &dlg;
    s.app = &app;
    s.file = file;
    s.main = main;
    s.since = GetTickCount();
    g_pShot = &s;
    s.timer = SetTimer(nullptr, 0, kStepMs, ShotStep);
    dlg.DoModal();
    if (s.timer)
        KillTimer(nullptr, s.timer);
    Release();
    g_pShot = nullptr;
    // Ended by the operator before the picture was taken.
    if (!file.IsEmpty() && s.phase != Shot::Done)
        return 1;
    return s.result;
}

}  // namespace

int g_nAppExitCode = 0;

CLoaderApp theApp;

CLoaderApp::CLoaderApp() = default;
CLoaderApp::~CLoaderApp() = default;

bool CLoaderApp::InitInstance()
{
    g_nAppExitCode = 0;
    if (!m_strAboutScreenshot.IsEmpty()) {
        CAboutDlg about;
        g_nAppExitCode = RunDialog(about, *this, m_strAboutScreenshot, false);
    }
    CLoaderDlg dlg;
    m_pMainWnd = &dlg;
    const int result = RunDialog(dlg, *this, m_strScreenshot, true);
    if (result)
        g_nAppExitCode = result;
    m_pMainWnd = nullptr;
    return false;
}
