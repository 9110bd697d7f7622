// SPDX-License-Identifier: MIT
// marbrix-station on Qt: the command line, then the window until it closes.
#include "app_icon_qt.h"
#include "exit_codes.h"
#include "station_dlg.h"
#include "station_options.h"
#include "stop_signal.h"

#include <QApplication>

#include <cstdio>

#ifndef MARBRIX_VERSION
#define MARBRIX_VERSION "unknown"
#endif

int main(int argc, char** argv)
{
    StationOptions options;
    std::string message;
    // Answered before Qt starts, so they work without a display too.
    if (!ReadStationOptions(argc, argv, &options, &message)) {
        fputs(message.c_str(), stderr);
        return EXIT_USAGE;  // as marbrix-cli: one script reads both
    }
    if (options.help) {
        fputs(message.c_str(), stdout);
        return 0;
    }
    if (options.version) {
        printf("marbrix-station %s\n", MARBRIX_VERSION);
        return 0;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral(MARBRIX_VERSION));
    QApplication::setWindowIcon(LoadMainFrameIcon());
    CStationDlg dlg(options);
    WatchStopSignal();
    dlg.DoModal();
    return 0;
}
