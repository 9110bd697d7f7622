// SPDX-License-Identifier: MIT
// The tile grid drawn by Qt, and CTileGrid's calls onto it.
#include "qt_tile_grid.h"

#include "dialog_base.h"
#include "qt_backend.h"

#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStyle>

#include <algorithm>

class TileCanvas : public QWidget {
public:
    explicit TileCanvas(TileGridWidget* grid) : QWidget(grid), m_grid(grid) { setAttribute(Qt::WA_OpaquePaintEvent); }

protected:
    void paintEvent(QPaintEvent* e) override
    {
        QPainter p(this);
        p.fillRect(e->rect(), palette().color(QPalette::Base));
        m_grid->PaintTiles(p, e->rect());
    }
    void mousePressEvent(QMouseEvent* e) override { m_grid->ClickAt(e->position().toPoint()); }

private:
    TileGridWidget* m_grid;
};

namespace {

QColor ToQColor(COLORREF c)
{
    return QColor(int(GetRValue(c)), int(GetGValue(c)), int(GetBValue(c)));
}

TileGridWidget* Grid(const CDlgItem& item)
{
    return item.Dialog() ? qobject_cast<TileGridWidget*>(QtControl(*item.Dialog(), item.GetDlgCtrlID())) : nullptr;
}

}  // namespace

TileGridWidget::TileGridWidget(QWidget* parent) : QScrollArea(parent), m_canvas(new TileCanvas(this))
{
    setWidget(m_canvas);
    setWidgetResizable(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
}

void TileGridWidget::SetTileCount(int count)
{
    m_tiles.resize(size_t(std::max(0, count)));
    if (m_selected >= count)
        m_selected = -1;
    Reflow();
    m_canvas->update();
}

bool TileGridWidget::SetTile(int index, const TileContent& content)
{
    if (index < 0 || index >= TileCount() || m_tiles[size_t(index)] == content)
        return false;
    m_tiles[size_t(index)] = content;
    m_canvas->update(TileRect(index));
    return true;
}

void TileGridWidget::SetSelected(int index)
{
    if (index < -1 || index >= TileCount() || index == m_selected)
        return;
    const int previous = m_selected;
    m_selected = index;
    if (previous >= 0)
        m_canvas->update(TileRect(previous));
    if (index >= 0) {
        m_canvas->update(TileRect(index));
        ensureVisible(TileRect(index).center().x(), TileRect(index).center().y(), 0,
                      TileLayout::kTileHeight / 2 + TileLayout::kGap);
    }
}

QRect TileGridWidget::TileRect(int index) const
{
    int x, y, cx, cy;
    m_layout.Place(index, &x, &y, &cx, &cy);
    return QRect(x, y, cx, cy);
}

void TileGridWidget::resizeEvent(QResizeEvent* e)
{
    QScrollArea::resizeEvent(e);
    Reflow();
}

void TileGridWidget::Reflow()
{
    m_layout =
        TileLayout::For(width() - 2 * frameWidth(), style()->pixelMetric(QStyle::PM_ScrollBarExtent), TileCount());
    m_canvas->resize(m_layout.canvasWidth, m_layout.canvasHeight);
    m_canvas->update();
}

void TileGridWidget::ClickAt(const QPoint& pos)
{
    for (int i = 0; i < TileCount(); ++i)
        if (TileRect(i).contains(pos)) {
            if (i != m_selected) {
                SetSelected(i);
                emit selectionChanged(i);
            }
            return;
        }
}

void TileGridWidget::PaintTiles(QPainter& p, const QRect& area)
{
    p.setRenderHint(QPainter::Antialiasing, true);
    // A plain sans face: read from two metres, not in a dialog's face.
    QFont base(QStringLiteral("DejaVu Sans"));
    base.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Segoe UI"), QStringLiteral("Arial"),
                      QStringLiteral("Noto Sans CJK SC")});
    base.setStyleHint(QFont::SansSerif);
    base.setPointSizeF(font().pointSizeF() > 0 ? font().pointSizeF() : 10);
    for (int i = 0; i < TileCount(); ++i) {
        const QRect r = TileRect(i);
        if (!r.intersects(area))
            continue;
        const TileContent& t = m_tiles[size_t(i)];
        const QColor fore = ToQColor(t.fore);
        p.setPen(Qt::NoPen);
        QRect face = r;
        if (i == m_selected) {
            // The selection must not be mistaken for a state: a thick dark
            // frame around the tile, not a colour of its own.
            p.setBrush(QColor(20, 20, 20));
            p.drawRoundedRect(r, 6, 6);
            face = r.adjusted(4, 4, -4, -4);
        }
        p.setBrush(ToQColor(t.back));
        p.drawRoundedRect(face, 5, 5);
        const QRect inner = face.adjusted(6, 3, -6, -3);
        p.setPen(fore);

        QFont title = base;
        title.setBold(true);
        title.setPointSizeF(base.pointSizeF() * 1.15);
        p.setFont(title);
        const QFontMetrics tm(title);
        p.drawText(QRect(inner.left(), inner.top(), inner.width(), tm.height()), Qt::AlignLeft | Qt::AlignVCenter,
                   tm.elidedText(ToQString(t.title), Qt::ElideMiddle, inner.width()));
        int y = inner.top() + tm.height();

        QFont small = base;
        small.setPointSizeF(base.pointSizeF() * 0.85);
        const QFontMetrics sm(small);
        p.setFont(small);
        p.drawText(QRect(inner.left(), y, inner.width(), sm.height()), Qt::AlignLeft | Qt::AlignVCenter,
                   sm.elidedText(ToQString(t.subtitle), Qt::ElideMiddle, inner.width()));
        y += sm.height();

        // The word takes what the text lines leave, as big as fits.
        const int linesHeight = int(t.lines.size()) * sm.height();
        const QRect wordRect(inner.left(), y, inner.width(), std::max(10, inner.bottom() - y - linesHeight));
        QFont word = base;
        word.setBold(true);
        word.setPixelSize(std::max(10, std::min(wordRect.height() - 2, 34)));
        QFontMetrics wm(word);
        const QString wordText = ToQString(t.word);
        while (word.pixelSize() > 10 && wm.horizontalAdvance(wordText) > wordRect.width()) {
            word.setPixelSize(word.pixelSize() - 2);
            wm = QFontMetrics(word);
        }
        p.setFont(word);
        p.drawText(wordRect, Qt::AlignCenter, wordText);

        p.setFont(small);
        y = wordRect.bottom() + 1;
        for (const CString& line : t.lines) {
            p.drawText(QRect(inner.left(), y, inner.width(), sm.height()), Qt::AlignHCenter | Qt::AlignVCenter,
                       sm.elidedText(ToQString(line), Qt::ElideRight, inner.width()));
            y += sm.height();
        }
    }
}

// --- CTileGrid ---

void CTileGrid::SetTileCount(int count)
{
    if (auto* g = Grid(*this))
        g->SetTileCount(count);
}

int CTileGrid::GetTileCount() const
{
    auto* g = Grid(*this);
    return g ? g->TileCount() : 0;
}

void CTileGrid::SetTile(int index, const TileContent& content)
{
    if (auto* g = Grid(*this))
        g->SetTile(index, content);
}

TileContent CTileGrid::GetTile(int index) const
{
    auto* g = Grid(*this);
    return g && index >= 0 && index < g->TileCount() ? g->Tile(index) : TileContent();
}

int CTileGrid::GetCurSel() const
{
    auto* g = Grid(*this);
    return g ? g->Selected() : -1;
}

void CTileGrid::SetCurSel(int index)
{
    if (auto* g = Grid(*this))
        g->SetSelected(index);
}
