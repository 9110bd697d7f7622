// SPDX-License-Identifier: MIT
#include "app_icon_qt.h"

#include "app_icon.h"

#include <QPainter>

namespace {

QColor Pal(int i)
{
    return QColor::fromRgba(kIconPalette16[i]);
}

}  // namespace

void PaintMainFrame(QPainter& p, double s, double outline)
{
    size_t count = 0;
    const IconShape* shapes = MainFrameShapes(&count);
    for (size_t i = 0; i < count; ++i) {
        const IconShape& sh = shapes[i];
        const QRectF r(sh.v[0] * s, sh.v[1] * s, sh.v[2] * s, sh.v[3] * s);
        if (sh.pen >= 0) {
            QPen pen(Pal(sh.pen));
            pen.setWidthF(outline);
            p.setPen(pen);
        } else {
            p.setPen(Qt::NoPen);
        }
        switch (sh.kind) {
        case IconShape::Frame:
            p.setBrush(Pal(sh.brush));
            p.drawRect(r);
            break;
        case IconShape::Fill:
            p.fillRect(r, Pal(sh.brush));
            break;
        case IconShape::Triangle: {
            QPolygonF head;
            head << QPointF(sh.v[0] * s, sh.v[1] * s) << QPointF(sh.v[2] * s, sh.v[3] * s)
                 << QPointF(sh.v[4] * s, sh.v[5] * s);
            p.setBrush(Pal(sh.brush));
            p.drawPolygon(head);
            break;
        }
        }
    }
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
    QVector<QRgb> table(kIconPalette16, kIconPalette16 + 16);
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
