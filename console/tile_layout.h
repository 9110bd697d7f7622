// SPDX-License-Identifier: MIT
// Where the tiles of a tile grid go, for both window systems: tiles keep a
// least width and a fixed height; as many columns as fit the width share
// it, and rows beyond the height scroll. The scroll bar's width is always
// kept free, so that its coming and going does not change the columns.
#pragma once

#include <algorithm>

struct TileLayout {
    static constexpr int kMinTileWidth = 140;
    static constexpr int kTileHeight = 118;
    static constexpr int kGap = 6;

    int columns = 1;
    int tileWidth = kMinTileWidth;
    int canvasWidth = 0, canvasHeight = 0;

    // width: the control's inside; scrollBar: the width a vertical scroll
    // bar takes.
    static TileLayout For(int width, int scrollBar, int count)
    {
        TileLayout l;
        const int free = std::max(kMinTileWidth + 2 * kGap, width - scrollBar);
        l.columns = std::max(1, (free - kGap) / (kMinTileWidth + kGap));
        l.tileWidth = (free - kGap) / l.columns - kGap;
        const int rows = (count + l.columns - 1) / l.columns;
        l.canvasWidth = free;
        l.canvasHeight = kGap + rows * (kTileHeight + kGap);
        return l;
    }
    // Left, top, width and height of a tile on the canvas.
    void Place(int index, int* x, int* y, int* cx, int* cy) const
    {
        *x = kGap + (index % columns) * (tileWidth + kGap);
        *y = kGap + (index / columns) * (kTileHeight + kGap);
        *cx = tileWidth;
        *cy = kTileHeight;
    }
};
