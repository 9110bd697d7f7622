// SPDX-License-Identifier: MIT
#include "app_icon.h"

#include <QPainter>

namespace {

// The sixteen colours of the classic palette the icon is drawn in.
const QRgb kPalette16[16] = {
    0xff000000, 0xff800000, 0xff008000, 0xff808000, 0xff000080, 0xff800080, 0xff008080, 0xffc0c0c0,
    0xff808080, 0xffff0000, 0xff00ff00, 0xffffff00, 0xff0000ff, 0xffff00ff, 0xff00ffff, 0xffffffff,
};

QColor Pal(int i)
{
    return QColor::fromRgba(kPalette16[i]);
}

}  // namespace

// A set-top box (grey case, green lamp, display) with a blue arrow coming
// down into it: a download to the box. Drawn on a 32-unit grid scaled by s;
// outline is the pen width of the edges.
void PaintMainFrame(QPainter& p, double s, double outline)
{
    auto R = [s](double x, double y, double w, double h) { return QRectF(x * s, y * s, w * s, h * s); };
    auto Edge = [outline](int colour) {
        QPen pen(Pal(colour));
        pen.setWidthF(outline);
        return pen;
    };

    // The box.
    p.setPen(Edge(0));
    p.setBrush(Pal(8));
    p.drawRect(R(1, 18, 29, 11));
    p.fillRect(R(2, 19, 28, 2), Pal(7));
    // Display and lamp.
    p.fillRect(R(4, 23, 12, 4), Pal(0));
    p.fillRect(R(5, 24, 10, 2), Pal(10));
    p.fillRect(R(24, 24, 3, 3), Pal(9));
    // The arrow into the box.
    p.setBrush(Pal(12));
    p.setPen(Edge(4));
    p.drawRect(R(12, 1, 7, 9));
    QPolygonF head;
    head << QPointF(7 * s, 10 * s) << QPointF(24 * s, 10 * s) << QPointF(15.5 * s, 17 * s);
    p.drawPolygon(head);
}

QImage MainFrameImage(int size)
{
    QImage img(size, size, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, false);
    const double s = size / 32.0;
    // Up to 32 pixels the edges are one pixel wide; larger pictures keep
    // the proportions of the 32-pixel one.
    PaintMainFrame(p, s, s > 1 ? s : 1);
    p.end();

    // Keep to the sixteen colours (and full transparency).
    QVector<QRgb> table(kPalette16, kPalette16 + 16);
    table.append(qRgba(0, 0, 0, 0));
    return img.convertToFormat(QImage::Format_Indexed8, table, Qt::ThresholdDither | Qt::AvoidDither)
        .convertToFormat(QImage::Format_ARGB32);
}

QIcon LoadMainFrameIcon()
{
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(MainFrameImage(32)));
    icon.addPixmap(QPixmap::fromImage(MainFrameImage(16)));
    return icon;
}
