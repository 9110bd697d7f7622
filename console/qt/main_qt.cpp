// SPDX-License-Identifier: MIT
// marbrix: the operator console.
//   marbrix [--port PATH]
//     --port PATH   add a serial device (a USB adapter, a pty) to the port
//                   list and select it
//   marbrix --help | --version
#include "app_icon_qt.h"
#include "loader_app.h"
#include "qt_backend.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

#ifndef MARBRIX_VERSION
#define MARBRIX_VERSION "unknown"
#endif

int main(int argc, char** argv)
{
    // Answered before Qt starts, so they work without a display too.
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) {
            printf("usage: marbrix [--port PATH]\n"
                   "  --port PATH   add a serial device (USB adapter, pty) to the port list and select it\n"
                   "  -V, --version print the program's version\n");
            return 0;
        }
        if (!strcmp(argv[i], "--version") || !strcmp(argv[i], "-V")) {
            printf("marbrix %s\n", MARBRIX_VERSION);
            return 0;
        }
    }
    QApplication app(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral(MARBRIX_VERSION));
    // Every window of the program (the About box too) shows IDR_MAINFRAME.
    QApplication::setWindowIcon(LoadMainFrameIcon());
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--port") && i + 1 < args.size()) {
            theApp.m_strPortPath = FromQString(args[++i]);
        } else if (a.startsWith(QLatin1String("--port="))) {
            theApp.m_strPortPath = FromQString(a.mid(7));
        } else if (a == QLatin1String("--screenshot") && i + 1 < args.size()) {
            // Renders the main window to a PNG and ends (for the docs).
            theApp.m_strScreenshot = FromQString(args[++i]);
        } else if (a == QLatin1String("--screenshot-about") && i + 1 < args.size()) {
            theApp.m_strAboutScreenshot = FromQString(args[++i]);
        } else if (a == QLatin1String("--screenshot-download") && i + 1 < args.size()) {
            // With --screenshot: download this file and render part-way.
            theApp.m_strScreenshotDownload = FromQString(args[++i]);
        } else if (a == QLatin1String("--screenshot-at") && i + 1 < args.size()) {
            theApp.m_nScreenshotPercent = qBound(1, args[++i].toInt(), 99);
        } else if (a == QLatin1String("--screenshot-size") && i + 1 < args.size()) {
            const QStringList wh = args[++i].split(QLatin1Char('x'));
            if (wh.size() == 2) {
                theApp.m_cxScreenshot = wh[0].toInt();
                theApp.m_cyScreenshot = wh[1].toInt();
            }
        } else {
            fprintf(stderr, "marbrix: unknown argument '%s'\nusage: marbrix [--port PATH]\n", qPrintable(a));
            return 2;
        }
    }
    theApp.InitInstance();
    return 0;
}
