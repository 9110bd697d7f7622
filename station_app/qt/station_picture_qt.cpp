// SPDX-License-Identifier: MIT
// Renders the station window for the README: started on the ports given,
// pictured once the lanes have run for a while, then stopped.
//   marbrix-station-picture OUT.png AFTER_MS WxH [marbrix-station's options]
#include "qt_backend.h"
#include "station_dlg.h"
#include "station_options.h"

#include <QApplication>
#include <QDialog>
#include <QPixmap>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    int cx = 0, cy = 0;
    if (argc < 4 || sscanf(argv[3], "%dx%d", &cx, &cy) != 2) {
        fprintf(stderr, "usage: marbrix-station-picture OUT.png AFTER_MS WxH [OPTIONS] [FILE]\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const int afterMs = atoi(argv[2]);
    argv[3] = argv[0];
    StationOptions options;
    std::string message;
    if (!ReadStationOptions(argc - 3, argv + 3, &options, &message)) {
        fputs(message.c_str(), stderr);
        return 2;
    }
    QApplication app(argc, argv);
    CStationDlg dlg(options);
    bool saved = false;
    QTimer::singleShot(afterMs, [&] {
        // The last changes drawn, as an operator would see them.
        QApplication::processEvents();
        saved = QtWindow(dlg)->grab().save(out);
        dlg.StopAndQuit();
    });
    QTimer::singleShot(0, [&] { QtWindow(dlg)->resize(cx, cy); });
    dlg.DoModal();
    return saved ? 0 : 1;
}
