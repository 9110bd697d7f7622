// SPDX-License-Identifier: MIT
// IDR_MAINFRAME: the application icon, a 32x32 and a 16x16 picture in the
// sixteen standard colours. The desktop's icon files (16 to 128 pixels and
// an SVG) come from the same drawing.
#pragma once

#include <QIcon>
#include <QImage>

class QPainter;

// The drawing on a 32-unit grid, scaled by s; outline: the edges' pen width.
void PaintMainFrame(QPainter& p, double s, double outline);
QImage MainFrameImage(int size);  // any size; the window uses 32 and 16
QIcon LoadMainFrameIcon();
