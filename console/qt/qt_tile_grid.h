// SPDX-License-Identifier: MIT
// The Qt side of CTileGrid: tiles painted on one canvas inside a scroll
// area, placed as tile_layout.h says.
#pragma once

#include "tile_grid.h"
#include "tile_layout.h"

#include <QScrollArea>

#include <vector>

class TileCanvas;

class TileGridWidget : public QScrollArea {
    Q_OBJECT
public:
    explicit TileGridWidget(QWidget* parent = nullptr);

    void SetTileCount(int count);
    int TileCount() const { return int(m_tiles.size()); }
    // True when the tile changed (and so is redrawn).
    bool SetTile(int index, const TileContent& content);
    const TileContent& Tile(int index) const { return m_tiles[size_t(index)]; }
    int Selected() const { return m_selected; }
    void SetSelected(int index);

    // The tile's place on the canvas, and the columns of the current width.
    QRect TileRect(int index) const;
    int Columns() const { return m_layout.columns; }

signals:
    void selectionChanged(int index);

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    friend class TileCanvas;
    void Reflow();
    void PaintTiles(QPainter& p, const QRect& area);
    void ClickAt(const QPoint& pos);

    TileCanvas* m_canvas;
    std::vector<TileContent> m_tiles;
    int m_selected = -1;
    TileLayout m_layout;
};
