// SPDX-License-Identifier: MIT
// The application icon's drawing rendered with Qt: for the window, the
// About box and the desktop's icon files.
#pragma once

#include <QIcon>
#include <QImage>

class QPainter;

// The drawing on a 32-unit grid, scaled by s; outline: the edges' pen width.
void PaintMainFrame(QPainter& p, double s, double outline);
QImage MainFrameImage(int size);  // any size; the window uses 32 and 16
QIcon LoadMainFrameIcon();
