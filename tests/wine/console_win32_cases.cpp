// SPDX-License-Identifier: MIT
// The operator console's main dialog on its native Win32 backend, created
// modeless in this process and driven through its windows: what the
// operator would see (window texts, the log's colours read back from the
// rich edit, the window menu) and what the operator would do (button
// clicks by BM_CLICK). This program pumps its own messages, and every wait
// has a deadline that fails the test instead of hanging it.
//
// Suite Dialog needs only a display. Suite Download needs the simulated box
// on a COM port, which a Windows program cannot start: the Linux driver
// (console_wine_test.cpp) starts stbsim on a pty, maps the port to it,
// runs one case of this program under Wine and checks what the box got.
// It passes the file and the port in the environment:
//   MARBRIX_CASE_FILE  the file to download, as Windows names it
//   MARBRIX_COM_NAME   the port, COM5 or above
#include "console_globals.h"
#include "dialog_template.h"
#include "engine.h"
#include "loader_dlg.h"
#include "resource.h"
#include "serial_port.h"
#include "win32_backend.h"

#include <richedit.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& w)
{
    return FromWide(w.c_str()).Str();
}

std::string WindowText(HWND h)
{
    std::wstring s(size_t(GetWindowTextLengthW(h)) + 1, L'\0');
    s.resize(size_t(GetWindowTextW(h, s.data(), int(s.size()))));
    return Utf8(s);
}

std::string ComboSelection(HWND combo)
{
    const LRESULT sel = SendMessageW(combo, CB_GETCURSEL, 0, 0);
    if (sel == CB_ERR)
        return "(none)";
    std::wstring s(size_t(SendMessageW(combo, CB_GETLBTEXTLEN, WPARAM(sel), 0)) + 1, L'\0');
    s.resize(size_t(SendMessageW(combo, CB_GETLBTEXT, WPARAM(sel), LPARAM(s.data()))));
    return Utf8(s);
}

std::string ClassOf(HWND h)
{
    wchar_t name[64] = {};
    GetClassNameW(h, name, 64);
    return Utf8(name);
}

std::string Upper(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(toupper(c)); });
    return s;
}

std::string EnvUtf8(const wchar_t* name)
{
    const wchar_t* v = _wgetenv(name);
    return v ? Utf8(v) : std::string();
}

// The dialog under test; its keys go through the dialog manager, as a
// modeless dialog's loop must send them.
HWND g_hDialog = nullptr;

// Dispatches this thread's messages until done() holds or timeoutMs pass;
// afterEach runs after every message, to watch states that pass quickly.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs, const std::function<void()>& afterEach = {})
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (!(g_hDialog && IsWindow(g_hDialog) && IsDialogMessageW(g_hDialog, &msg))) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            if (afterEach)
                afterEach();
        }
        if (done())
            return true;
        const ULONGLONG now = GetTickCount64();
        if (now >= end)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD(std::min<ULONGLONG>(end - now, 50)), QS_ALLINPUT);
    }
}

void PumpPending()
{
    PumpUntil([] { return true; }, 0);
}

// A key pressed on a control, as the keyboard would deliver it.
void PressKey(HWND control, UINT vk)
{
    PostMessageW(control, WM_KEYDOWN, vk, 1);
    PostMessageW(control, WM_KEYUP, vk, LPARAM(0xC0000001));
    PumpPending();
}

// One line of the log as the rich edit holds it: its text without the
// break, and its colour when the whole line has one.
struct LogLine {
    std::string text;
    bool oneColour = false;
    COLORREF colour = 0;
};

std::vector<LogLine> ReadLog(HWND edit)
{
    GETTEXTLENGTHEX len = {GTL_NUMCHARS | GTL_PRECISE, 1200};
    const LONG n = LONG(SendMessageW(edit, EM_GETTEXTLENGTHEX, WPARAM(&len), 0));
    std::wstring all(size_t(n) + 1, L'\0');
    TEXTRANGEW range = {{0, n}, all.data()};
    all.resize(size_t(SendMessageW(edit, EM_GETTEXTRANGE, 0, LPARAM(&range))));

    CHARRANGE saved;
    SendMessageW(edit, EM_EXGETSEL, 0, LPARAM(&saved));
    std::vector<LogLine> lines;
    LONG start = 0;
    // Character positions count a paragraph's end as one character, as the
    // text range gives it.
    for (LONG i = 0; i <= LONG(all.size()); ++i) {
        if (i < LONG(all.size()) && all[size_t(i)] != L'\r' && all[size_t(i)] != L'\n')
            continue;
        if (i > start) {
            LogLine line;
            line.text = Utf8(all.substr(size_t(start), size_t(i - start)));
            CHARRANGE sel = {start, i};
            SendMessageW(edit, EM_EXSETSEL, 0, LPARAM(&sel));
            CHARFORMAT2W cf = {};
            cf.cbSize = sizeof cf;
            cf.dwMask = CFM_COLOR;
            SendMessageW(edit, EM_GETCHARFORMAT, SCF_SELECTION, LPARAM(&cf));
            line.oneColour = (cf.dwMask & CFM_COLOR) && !(cf.dwEffects & CFE_AUTOCOLOR);
            line.colour = cf.crTextColor;
            lines.push_back(line);
        }
        start = i + 1;
    }
    SendMessageW(edit, EM_EXSETSEL, 0, LPARAM(&saved));
    return lines;
}

std::string Dump(const std::vector<LogLine>& lines)
{
    std::string s;
    char colour[32];
    for (const LogLine& l : lines) {
        snprintf(colour, sizeof colour, l.oneColour ? " [%06lx]" : " [mixed]", (unsigned long)l.colour);
        s += l.text + colour + "\n";
    }
    return s;
}

constexpr COLORREF kGreen = RGB(0, 123, 22);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kOrange = RGB(255, 128, 0);

LogTime FixedClock()
{
    return LogTime{9, 5, 7};
}
constexpr char kStamp[] = "09:05:07  ";

std::vector<std::string> NoExtraPorts()
{
    return {};
}

// Stands in for the file dialog: hands back the path a test chose, and
// keeps what the dialog asked with.
struct Chooser {
    static inline std::string path;
    static inline int calls = 0;
    static inline FileChooserRequest asked;
    static bool Choose(const FileChooserRequest& request, CString* chosen)
    {
        ++calls;
        asked = request;
        *chosen = path;
        return !path.empty();
    }
};

class Dialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Whatever an earlier case left behind must not reach this one.
        ASSERT_TRUE(EngineWaitIdle(10000)) << "a worker of an earlier case is still running";
        g_hPort = nullptr;
        g_bConnected = 0;
        g_bDownloading = 0;
        g_pDownloadFile = nullptr;
        g_bImageMode = 0;
        g_pfnLogClock = FixedClock;
        g_pfnChooseFile = Chooser::Choose;
        // Only COM1..COM4 and what a test adds: the list is then the same
        // on every machine, and no case selects a port the system found.
        g_pfnListPorts = NoExtraPorts;
        g_pfnAskAbortAndQuit = [](CDialog*) { return true; };
        Chooser::path.clear();
        Chooser::calls = 0;

        dlg = std::make_unique<CLoaderDlg>();
        ASSERT_TRUE(dlg->Create());
        hwnd = Win32Window(*dlg);
        ASSERT_TRUE(IsWindow(hwnd));
        g_hDialog = hwnd;
        ASSERT_TRUE(PumpUntil([&] { return IsWindowVisible(hwnd) != FALSE; }, 10000)) << "the dialog was never shown";
        PumpPending();
    }

    void TearDown() override
    {
        // As a modeless dialog ends: its window first (OnDestroy stops a
        // download and closes the port), then the object.
        if (hwnd && IsWindow(hwnd))
            DestroyWindow(hwnd);
        g_hDialog = nullptr;
        dlg.reset();
        PumpPending();
    }

    HWND Item(int id) const { return Win32Control(*dlg, id); }
    std::string Text(int id) const { return WindowText(Item(id)); }
    void Click(int id) { SendMessageW(Item(id), BM_CLICK, 0, 0); }
    int Progress() const { return int(SendMessageW(Item(IDC_PROGRESS), PBM_GETPOS, 0, 0)); }
    std::vector<LogLine> Log() const { return ReadLog(Item(IDC_LOG)); }

    // The last log line that contains needle; empty text when none does.
    LogLine FindLine(const std::string& needle) const
    {
        const std::vector<LogLine> lines = Log();
        for (auto it = lines.rbegin(); it != lines.rend(); ++it)
            if (it->text.find(needle) != std::string::npos)
                return *it;
        return LogLine{};
    }
    bool LogHas(const std::string& needle) const { return !FindLine(needle).text.empty(); }

    std::unique_ptr<CLoaderDlg> dlg;
    HWND hwnd = nullptr;
};

// --- start-up -------------------------------------------------------------

const char* Win32ClassOf(DlgClass c)
{
    switch (c) {
    case DlgClass::ComboBox:
        return "COMBOBOX";
    case DlgClass::GroupBox:
    case DlgClass::PushButton:
    case DlgClass::MenuButton:
        return "BUTTON";
    case DlgClass::Static:
    case DlgClass::StaticIcon:
        return "STATIC";
    case DlgClass::RichEdit:
        return "RICHEDIT50W";
    case DlgClass::Progress:
        return "MSCTLS_PROGRESS32";
    case DlgClass::TileGrid:
        return "MARBRIXTILEGRID";
    }
    return "?";
}

// The group box has no id of its own: it is found by its text.
HWND FindChildByText(HWND parent, const std::string& text)
{
    struct Search {
        std::string text;
        HWND found = nullptr;
    } search{text, nullptr};
    EnumChildWindows(
        parent,
        [](HWND h, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            if (WindowText(h) != s->text)
                return TRUE;
            s->found = h;
            return FALSE;
        },
        LPARAM(&search));
    return search.found;
}

TEST_F(Dialog, StartsAsItsTemplateSays)
{
    const DlgTemplate& t = MainDialogTemplate();
    EXPECT_EQ(WindowText(hwnd), "Marbrix");

    // Dialog units become pixels with the dialog's own font, as the system
    // placed the controls: x, y, width and height each on their own.
    RECT client;
    GetClientRect(hwnd, &client);
    RECT size = {0, 0, t.cx, t.cy};
    ASSERT_TRUE(MapDialogRect(hwnd, &size)) << "the main window is not a dialog window";
    EXPECT_EQ(client.right, size.right);
    EXPECT_EQ(client.bottom, size.bottom);

    for (const DlgItemTemplate& item : t.items) {
        SCOPED_TRACE(std::string(item.text) + " (id " + std::to_string(item.id) + ")");
        HWND h = item.id == IDC_STATIC ? FindChildByText(hwnd, item.text) : Item(item.id);
        ASSERT_TRUE(h && IsWindow(h));
        EXPECT_EQ(GetParent(h), hwnd);
        if (item.id != IDC_STATIC) {
            EXPECT_EQ(GetDlgCtrlID(h), item.id);
        }
        EXPECT_EQ(Upper(ClassOf(h)), Win32ClassOf(item.cls));
        if (item.cls == DlgClass::GroupBox) {
            EXPECT_EQ(GetWindowLongW(h, GWL_STYLE) & BS_TYPEMASK, BS_GROUPBOX);
        }

        RECT want = {item.x, item.y, item.cx, item.cy};
        ASSERT_TRUE(MapDialogRect(hwnd, &want));
        RECT got;
        GetWindowRect(h, &got);
        MapWindowPoints(HWND_DESKTOP, hwnd, reinterpret_cast<POINT*>(&got), 2);
        EXPECT_EQ(got.left, want.left);
        EXPECT_EQ(got.top, want.top);
        EXPECT_EQ(got.right - got.left, want.right);
        // A combo box's window is as tall as its dropped list.
        if (item.cls != DlgClass::ComboBox) {
            EXPECT_EQ(got.bottom - got.top, want.bottom);
        }
    }

    EXPECT_EQ(ComboSelection(Item(IDC_PORT)), "COM2");
    EXPECT_EQ(ComboSelection(Item(IDC_BAUD)), "115200");
    EXPECT_EQ(SendMessageW(Item(IDC_BAUD), CB_GETCOUNT, 0, 0), kBaudRateCount);
    EXPECT_EQ(Text(IDC_FILE), "");
    EXPECT_EQ(Text(IDC_LINK), "");
    EXPECT_EQ(Text(IDC_STATUS), "");
    EXPECT_EQ(Text(IDC_START), "Start");
    EXPECT_EQ(Text(IDC_CONNECT), "Connect");
    EXPECT_EQ(Progress(), 0);
    EXPECT_TRUE(Log().empty()) << Dump(Log());

    // The window menu ends with a separator and the About entry.
    HMENU menu = GetSystemMenu(hwnd, FALSE);
    ASSERT_NE(menu, nullptr);
    const int n = GetMenuItemCount(menu);
    ASSERT_GE(n, 2);
    MENUITEMINFOW sep = {};
    sep.cbSize = sizeof sep;
    sep.fMask = MIIM_FTYPE;
    ASSERT_TRUE(GetMenuItemInfoW(menu, UINT(n - 2), TRUE, &sep));
    EXPECT_TRUE(sep.fType & MFT_SEPARATOR);
    wchar_t label[128] = {};
    MENUITEMINFOW about = {};
    about.cbSize = sizeof about;
    about.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
    about.dwTypeData = label;
    about.cch = 128;
    ASSERT_TRUE(GetMenuItemInfoW(menu, UINT(n - 1), TRUE, &about));
    EXPECT_EQ(Utf8(label), "关于 Marbrix(&A)...");
    EXPECT_EQ(about.wID & 0xFFF0, UINT(IDM_ABOUTBOX));

    EXPECT_NE(SendMessageW(hwnd, WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_NE(SendMessageW(hwnd, WM_GETICON, ICON_SMALL, 0), 0);
}

// --- the log ----------------------------------------------------------------

TEST_F(Dialog, LogLinesTakeTheirLevelsColour)
{
    struct Case {
        uint8_t level;
        const char* text;
        COLORREF colour;
    };
    // Each colour follows a different one, so none can have leaked from
    // the line before; the last is Chinese, through UTF-8 both ways.
    const Case cases[] = {
        {LOG_INFO, "first, as information", kGreen},
        {LOG_ERROR, "then an error", kRed},
        {LOG_NOTICE, "then the break-off notice", kOrange},
        {LOG_DONE, "then the engine's own ending", kGreen},
        {LOG_ERROR, "红色：下载失败", kRed},
        {LOG_INFO, "固件文件 主板-v1.2.dat 已发送", kGreen},
    };
    for (const Case& c : cases)
        dlg->AppendLog(CString(c.text) + "\r\n", c.level);
    PumpPending();

    const std::vector<LogLine> lines = Log();
    ASSERT_EQ(lines.size(), std::size(cases)) << Dump(lines);
    for (size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(cases[i].text);
        EXPECT_EQ(lines[i].text, kStamp + std::string(cases[i].text));
        EXPECT_TRUE(lines[i].oneColour) << Dump(lines);
        EXPECT_EQ(lines[i].colour, cases[i].colour) << Dump(lines);
    }
    // The dialog's own read-back gives the text as it went in.
    const std::string all = dlg->m_log.GetText().Str();
    EXPECT_NE(all.find("固件文件 主板-v1.2.dat 已发送"), std::string::npos) << all;
    EXPECT_NE(all.find(std::string(kStamp) + "红色：下载失败"), std::string::npos) << all;
}

// The operator can select and copy, and what is appended still goes to the
// end in its own colour, whatever is selected.
TEST_F(Dialog, LogIsReadOnlyAndAppendsAtTheEnd)
{
    HWND edit = Item(IDC_LOG);
    EXPECT_TRUE(GetWindowLongW(edit, GWL_STYLE) & ES_READONLY);
    dlg->AppendLog("one\r\n", LOG_ERROR);
    dlg->AppendLog("two\r\n", LOG_INFO);
    CHARRANGE first = {0, 3};
    SendMessageW(edit, EM_EXSETSEL, 0, LPARAM(&first));
    dlg->AppendLog("three\r\n", LOG_NOTICE);
    PumpPending();
    const std::vector<LogLine> lines = Log();
    ASSERT_EQ(lines.size(), 3u) << Dump(lines);
    EXPECT_EQ(lines[0].text, kStamp + std::string("one"));
    EXPECT_EQ(lines[0].colour, kRed);
    EXPECT_EQ(lines[2].text, kStamp + std::string("three"));
    EXPECT_EQ(lines[2].colour, kOrange);
    EXPECT_TRUE(lines[2].oneColour) << Dump(lines);

    // The probe itself: a selection over a red and a green line has no
    // single colour, so "one colour" above means something.
    CHARRANGE both = {0, 20};
    SendMessageW(edit, EM_EXSETSEL, 0, LPARAM(&both));
    CHARFORMAT2W cf = {};
    cf.cbSize = sizeof cf;
    cf.dwMask = CFM_COLOR;
    SendMessageW(edit, EM_GETCHARFORMAT, SCF_SELECTION, LPARAM(&cf));
    EXPECT_FALSE(cf.dwMask & CFM_COLOR);
}

// Enter presses the push button that has the focus (here Start, which
// finds no file) and does nothing on a list; it never ends the dialog.
TEST_F(Dialog, EnterPressesTheFocusedButtonOnly)
{
    // The focus moved as the dialog manager moves it (Tab would), so that
    // it knows which button is the default one now.
    SendMessageW(hwnd, WM_NEXTDLGCTL, WPARAM(Item(IDC_PORT)), TRUE);
    PressKey(GetFocus(), VK_RETURN);
    PumpPending();
    ASSERT_TRUE(IsWindow(hwnd)) << "Enter on the port list ended the dialog";
    EXPECT_TRUE(Log().empty()) << Dump(Log());

    SendMessageW(hwnd, WM_NEXTDLGCTL, WPARAM(Item(IDC_START)), TRUE);
    PressKey(GetFocus(), VK_RETURN);
    ASSERT_TRUE(PumpUntil([&] { return LogHas("No download file!"); }, 5000)) << Dump(Log());
    EXPECT_EQ(FindLine("No download file!").colour, kRed);
    EXPECT_TRUE(IsWindow(hwnd));
}

// The window menu's About entry opens the About box modally over the
// dialog; its OK returns to the dialog as it was.
struct AboutSeen {
    HWND about = nullptr;
    bool ownerDisabled = false;
    bool hasIcon = false;
    std::string caption;
    std::vector<std::string> texts;
};
AboutSeen g_aboutSeen;

// Runs inside the About box's own modal loop: looks at it, then presses
// its OK button with Enter.
void CALLBACK LookAtAboutBox(HWND, UINT, UINT_PTR id, DWORD)
{
    HWND about = nullptr;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND h, LPARAM p) -> BOOL {
            if (h == g_hDialog || !IsWindowVisible(h) || GetDlgItem(h, IDOK) == nullptr)
                return TRUE;
            *reinterpret_cast<HWND*>(p) = h;
            return FALSE;
        },
        LPARAM(&about));
    if (!about)
        return;  // not up yet: the timer comes again
    KillTimer(nullptr, id);
    g_aboutSeen.about = about;
    g_aboutSeen.caption = WindowText(about);
    g_aboutSeen.ownerDisabled = !IsWindowEnabled(g_hDialog);
    for (HWND c = GetWindow(about, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        g_aboutSeen.texts.push_back(WindowText(c));
        if ((GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && ClassOf(c) == "Static")
            g_aboutSeen.hasIcon = SendMessageW(c, STM_GETICON, 0, 0) != 0;
    }
    HWND ok = GetDlgItem(about, IDOK);
    SetFocus(ok);
    PostMessageW(ok, WM_KEYDOWN, VK_RETURN, 1);
    PostMessageW(ok, WM_KEYUP, VK_RETURN, LPARAM(0xC0000001));
}

TEST_F(Dialog, AboutFromTheWindowMenu)
{
    g_aboutSeen = AboutSeen{};
    HMENU menu = GetSystemMenu(hwnd, FALSE);
    ASSERT_TRUE(menu);
    const int last = GetMenuItemCount(menu) - 1;
    ASSERT_EQ(GetMenuItemID(menu, last), UINT(IDM_ABOUTBOX));

    const UINT_PTR timer = SetTimer(nullptr, 0, 50, LookAtAboutBox);
    ASSERT_NE(timer, 0u);
    PostMessageW(hwnd, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    // The box runs its own loop inside the handler; this returns once the
    // box has ended and the dialog is enabled again.
    const bool back = PumpUntil([&] { return g_aboutSeen.about && !IsWindow(g_aboutSeen.about); }, 15000);
    KillTimer(nullptr, timer);
    ASSERT_TRUE(back) << "the About box did not come up, or did not end on Enter";
    EXPECT_EQ(g_aboutSeen.caption, "关于 Marbrix");
    EXPECT_TRUE(g_aboutSeen.ownerDisabled) << "the About box was not modal over the dialog";
    EXPECT_TRUE(g_aboutSeen.hasIcon);
    EXPECT_NE(std::find(g_aboutSeen.texts.begin(), g_aboutSeen.texts.end(), "Marbrix 1.0 版"),
              g_aboutSeen.texts.end());
    EXPECT_NE(std::find(g_aboutSeen.texts.begin(), g_aboutSeen.texts.end(), "确定"), g_aboutSeen.texts.end());
    ASSERT_TRUE(IsWindow(hwnd));
    EXPECT_TRUE(IsWindowEnabled(hwnd));
    EXPECT_EQ(Text(IDC_START), "Start");
}

// --- whole downloads against the box ----------------------------------------

class Download : public Dialog {
protected:
    void SetUp() override
    {
        file = EnvUtf8(L"MARBRIX_CASE_FILE");
        com = EnvUtf8(L"MARBRIX_COM_NAME");
        if (file.empty() || com.empty())
            GTEST_SKIP() << "run by console_wine_test, which starts the box (needs MARBRIX_CASE_FILE, "
                            "MARBRIX_COM_NAME)";
        // Never COM1..COM4: unmapped, Wine sends them to /dev/ttyS0..3.
        ASSERT_EQ(Upper(com.substr(0, 3)), "COM");
        ASSERT_GT(atoi(com.c_str() + 3), 4) << com;
        Dialog::SetUp();
        if (HasFatalFailure())
            return;
        Chooser::path = file;
    }

    // Chooses the port by its device path, and the file through the
    // Browse button.
    void ChoosePortAndFile()
    {
        const int index = dlg->AddPortPath(CString(PortDevicePath(com)));
        EXPECT_GE(index, 4);
        ASSERT_EQ(ComboSelection(Item(IDC_PORT)), com) << "the wrong port is selected; nothing may be opened";
        Click(IDC_BROWSE);
        ASSERT_EQ(Chooser::calls, 1);
        EXPECT_EQ(Chooser::asked.filter.Str(), kDownloadFileFilter);
        EXPECT_EQ(Text(IDC_FILE), file);
    }

    // The worker has let go of the file: it opens with no sharing at all.
    bool FileReleased() const
    {
        HANDLE h = CreateFileW(ToWide(CString(file)).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        CloseHandle(h);
        return true;
    }

    std::string file;
    std::string com;
};

TEST_F(Download, ImageToTheEnd)
{
    ASSERT_NO_FATAL_FAILURE(ChoosePortAndFile());
    EXPECT_EQ(int(g_bImageMode), 1);

    Click(IDC_CONNECT);
    ASSERT_EQ(int(g_bConnected), 1) << Dump(Log());
    EXPECT_EQ(Text(IDC_LINK), "OK");
    EXPECT_EQ(Text(IDC_CONNECT), "DisConnect");
    EXPECT_FALSE(IsWindowEnabled(Item(IDC_PORT)));
    EXPECT_EQ(FindLine(com + ":115200-8-1 Open Successful!").colour, kGreen) << Dump(Log());

    Click(IDC_START);
    ASSERT_EQ(Text(IDC_START), "Abort") << Dump(Log());
    EXPECT_EQ(Text(IDC_STATUS), "===>>  \"" + file + "\"");

    int highest = 0;
    ASSERT_TRUE(PumpUntil([&] { return Text(IDC_START) == "Start"; }, 180000,
                          [&] { highest = std::max(highest, Progress()); }))
        << "still downloading\n"
        << Dump(Log());
    EXPECT_EQ(int(g_bDownloading), 0);
    EXPECT_TRUE(PumpUntil([&] { return LogHas("Velto file send OK!"); }, 10000)) << Dump(Log());
    EXPECT_EQ(FindLine("Velto file send OK!").colour, kRed);
    EXPECT_EQ(FindLine("Download File is valid, DL Version:1.2").colour, kGreen) << Dump(Log());
    EXPECT_TRUE(PumpUntil([&] { return Progress() == 0; }, 10000, [&] { highest = std::max(highest, Progress()); }));
    EXPECT_EQ(highest, 100);
    EXPECT_EQ(Text(IDC_STATUS), "");
    EXPECT_EQ(Text(IDC_LINK), "OK");  // the port stays open for the next one
    EXPECT_TRUE(PumpUntil([&] { return FileReleased(); }, 10000)) << "the download file is still open";

    Click(IDC_CONNECT);
    EXPECT_EQ(int(g_bConnected), 0);
    EXPECT_TRUE(LogHas(com + " Close!")) << Dump(Log());
}

TEST_F(Download, ServedThenAbort)
{
    ASSERT_NO_FATAL_FAILURE(ChoosePortAndFile());
    EXPECT_EQ(int(g_bImageMode), 0);

    // Start opens the port itself when it is closed.
    Click(IDC_START);
    ASSERT_EQ(Text(IDC_START), "Abort") << Dump(Log());
    EXPECT_EQ(Text(IDC_LINK), "OK");
    // The box has asked for pieces and for the time: well under way.
    ASSERT_TRUE(PumpUntil([&] { return LogHas("VUMO_TIME_REP"); }, 60000)) << Dump(Log());
    ASSERT_EQ(Text(IDC_START), "Abort") << Dump(Log());

    // Esc does not leave a download half-way.
    SetFocus(Item(IDC_START));
    PressKey(GetFocus(), VK_ESCAPE);
    ASSERT_TRUE(IsWindow(hwnd)) << "Esc ended the dialog during a download";
    ASSERT_EQ(Text(IDC_START), "Abort");

    Click(IDC_START);
    EXPECT_EQ(Text(IDC_START), "Start");
    EXPECT_EQ(Text(IDC_STATUS), "");
    EXPECT_EQ(int(g_bDownloading), 0);
    ASSERT_TRUE(PumpUntil([&] { return LogHas("[VUMO] User break off"); }, 20000)) << Dump(Log());
    const LogLine breakOff = FindLine("[VUMO] User break off");
    EXPECT_EQ(breakOff.text, kStamp + std::string("[VUMO] User break off"));
    EXPECT_TRUE(breakOff.oneColour);
    EXPECT_EQ(breakOff.colour, kOrange) << Dump(Log());

    // Idle for good: the worker has ended, its file is closed, and the
    // toggle did not start anything on its way back.
    EXPECT_TRUE(PumpUntil([&] { return !g_bEngineBusy.load() && dlg->NothingPendingClose(); }, 20000));
    EXPECT_TRUE(PumpUntil([&] { return FileReleased(); }, 10000)) << "the download file is still open";
    EXPECT_EQ(Text(IDC_START), "Start");
    EXPECT_EQ(int(g_bDownloading), 0);
    EXPECT_EQ(int(g_bConnected), 1);

    // Idle, Esc ends the dialog, and the port with it.
    PressKey(Item(IDC_START), VK_ESCAPE);
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(hwnd); }, 10000)) << "Esc did not end the idle dialog";
    EXPECT_EQ(int(g_bConnected), 0);
}

}  // namespace
