// SPDX-License-Identifier: MIT
// marbrix-station.exe: the command line (as UTF-8, the options' own
// reading), then the window until it closes.
#include "app_win32.h"
#include "exit_codes.h"
#include "station_dlg.h"
#include "station_options.h"
#include "win32_backend.h"

#include <shellapi.h>

#include <string>
#include <vector>

#ifndef MARBRIX_VERSION
#define MARBRIX_VERSION "unknown"
#endif

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    int argc = 0;
    LPWSTR* wargv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> args;
    for (int i = 0; wargv && i < argc; ++i)
        args.push_back(FromWide(wargv[i]).Str());
    if (wargv)
        LocalFree(wargv);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    StationOptions options;
    std::string message;
    if (!ReadStationOptions(int(args.size()), argv.data(), &options, &message)) {
        WriteStdErr(CString(message), true);
        return EXIT_USAGE;  // as marbrix-cli: one script reads both
    }
    if (options.help) {
        WriteStdOut(CString(message), true);
        return 0;
    }
    if (options.version) {
        WriteStdOut("marbrix-station " MARBRIX_VERSION "\n", true);
        return 0;
    }
    CStationDlg dlg(options);
    dlg.DoModal();
    return 0;
}
