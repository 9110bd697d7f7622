// IDR_MAINFRAME: the application icon, a 32x32 and a 16x16 picture in the
// sixteen standard colours.
#pragma once

#include <QIcon>
#include <QImage>

QImage MainFrameImage(int size);  // size 32 or 16
QIcon LoadMainFrameIcon();
