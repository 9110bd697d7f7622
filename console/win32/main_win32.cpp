// SPDX-License-Identifier: MIT
// marbrix.exe: the operator console on Windows.
//   marbrix [--port PATH]
//     --port PATH   add a serial port (COM7, \\.\COM12) to the port list
//                   and select it
//   marbrix --help | --version
// The options for the documentation's pictures are described in
// loader_app_win32.cpp.
#include "app_win32.h"
#include "loader_app.h"
#include "win32_backend.h"

#include <shellapi.h>

#include <cwchar>
#include <string>
#include <vector>

#ifndef MARBRIX_VERSION
#define MARBRIX_VERSION "unknown"
#endif

namespace {

const char kUsage[] = "usage: marbrix [--port PATH]\n"
                      "  --port PATH   add a serial port (COM7, \\\\.\\COM12) to the port list and select it\n"
                      "  -V, --version print the program's version\n";

// "--name=value" or "--name value"; advances i past what it took.
bool TakeValue(const std::vector<std::wstring>& args, size_t& i, const wchar_t* name, std::wstring* value)
{
    const std::wstring& a = args[i];
    const size_t n = wcslen(name);
    if (a == name && i + 1 < args.size()) {
        *value = args[++i];
        return true;
    }
    if (a.size() > n && a.compare(0, n, name) == 0 && a[n] == L'=') {
        *value = a.substr(n + 1);
        return true;
    }
    return false;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::wstring> args;
    for (int i = 0; argv && i < argc; ++i)
        args.emplace_back(argv[i]);
    if (argv)
        LocalFree(argv);

    for (size_t i = 1; i < args.size(); ++i) {
        const std::wstring& a = args[i];
        std::wstring value;
        if (a == L"--help" || a == L"-h" || a == L"/?") {
            WriteStdOut(kUsage, true);
            return 0;
        }
        if (a == L"--version" || a == L"-V") {
            WriteStdOut("marbrix " MARBRIX_VERSION "\n", true);
            return 0;
        }
        if (TakeValue(args, i, L"--port", &value)) {
            theApp.m_strPortPath = FromWide(value.c_str());
        } else if (TakeValue(args, i, L"--screenshot", &value)) {
            theApp.m_strScreenshot = FromWide(value.c_str());
        } else if (TakeValue(args, i, L"--screenshot-about", &value)) {
            theApp.m_strAboutScreenshot = FromWide(value.c_str());
        } else if (TakeValue(args, i, L"--screenshot-download", &value)) {
            theApp.m_strScreenshotDownload = FromWide(value.c_str());
        } else if (TakeValue(args, i, L"--screenshot-at", &value)) {
            const int at = _wtoi(value.c_str());
            theApp.m_nScreenshotPercent = at < 1 ? 1 : at > 99 ? 99 : at;
        } else if (TakeValue(args, i, L"--screenshot-size", &value)) {
            int cx = 0, cy = 0;
            if (swscanf(value.c_str(), L"%dx%d", &cx, &cy) == 2 && cx > 0 && cy > 0) {
                theApp.m_cxScreenshot = cx;
                theApp.m_cyScreenshot = cy;
            }
        } else {
            bool needsValue = false;
            for (const wchar_t* o : {L"--port", L"--screenshot", L"--screenshot-about", L"--screenshot-download",
                                     L"--screenshot-at", L"--screenshot-size"})
                needsValue = needsValue || a == o;
            const CString what = needsValue ? CString("marbrix: ") + FromWide(a.c_str()) + " needs a value\n"
                                            : CString("marbrix: unknown argument '") + FromWide(a.c_str()) + "'\n";
            WriteStdErr(what + kUsage, true);
            return 2;
        }
    }
    theApp.InitInstance();
    return g_nAppExitCode;
}
