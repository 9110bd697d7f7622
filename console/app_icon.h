// SPDX-License-Identifier: MIT
// IDR_MAINFRAME: the application icon, a 32x32 and a 16x16 picture in the
// sixteen standard colours. It is kept as a drawing (a few shapes on a
// 32-unit grid) so that every window system, and the desktop's icon files,
// render the one picture.
#pragma once

#include <cstddef>
#include <cstdint>

// The sixteen colours of the classic palette, 0xAARRGGBB.
extern const uint32_t kIconPalette16[16];

struct IconShape {
    enum Kind {
        Frame,     // a rectangle: outlined in `pen`, filled with `brush`
        Fill,      // a rectangle filled with `brush`, no outline
        Triangle,  // a triangle through the three points, outlined and filled
    } kind;
    int pen;    // palette index, or -1 for none
    int brush;  // palette index
    // Frame, Fill: x, y, width, height. Triangle: x0, y0, x1, y1, x2, y2.
    double v[6];
};

// The drawing, back to front.
const IconShape* MainFrameShapes(size_t* count);
