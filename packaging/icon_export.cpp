// SPDX-License-Identifier: MIT
// marbrix_icons: writes the application icon into a hicolor theme tree
// (NN x NN/apps/marbrix.png and, with Qt SVG, scalable/apps/marbrix.svg) from
// the same drawing the console's window icon uses, so the menu entry and the
// window show one picture.
//   marbrix_icons OUTDIR
#include "app_icon_qt.h"

#include <QDir>
#include <QPainter>
#include <QString>

#ifdef MARBRIX_ICONS_SVG
#include <QSvgGenerator>
#endif

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: marbrix_icons OUTDIR\n");
        return 1;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    for (int size : {16, 32, 48, 128}) {
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(out).arg(size);
        if (!QDir().mkpath(dir) || !MainFrameImage(size).save(dir + QStringLiteral("/marbrix.png"), "PNG")) {
            fprintf(stderr, "marbrix_icons: cannot write %s\n", qPrintable(dir + QStringLiteral("/marbrix.png")));
            return 1;
        }
    }
#ifdef MARBRIX_ICONS_SVG
    const QString dir = out + QStringLiteral("/scalable/apps");
    if (!QDir().mkpath(dir)) {
        fprintf(stderr, "marbrix_icons: cannot create %s\n", qPrintable(dir));
        return 1;
    }
    QSvgGenerator svg;
    svg.setFileName(dir + QStringLiteral("/marbrix.svg"));
    svg.setSize(QSize(32, 32));
    svg.setViewBox(QRect(0, 0, 32, 32));
    svg.setTitle(QStringLiteral("Marbrix"));
    QPainter p;
    if (!p.begin(&svg)) {
        fprintf(stderr, "marbrix_icons: cannot write %s/marbrix.svg\n", qPrintable(dir));
        return 1;
    }
    PaintMainFrame(p, 1.0, 1.0);
    p.end();
#endif
    return 0;
}
