// SPDX-License-Identifier: MIT
#include "app_icon.h"

const uint32_t kIconPalette16[16] = {
    0xff000000, 0xff800000, 0xff008000, 0xff808000, 0xff000080, 0xff800080, 0xff008080, 0xffc0c0c0,
    0xff808080, 0xffff0000, 0xff00ff00, 0xffffff00, 0xff0000ff, 0xffff00ff, 0xff00ffff, 0xffffffff,
};

// A set-top box (grey case, green display, red lamp) with a blue arrow
// coming down into it: a download to the box.
const IconShape* MainFrameShapes(size_t* count)
{
    static const IconShape shapes[] = {
        // The box, its lighter top edge, the display and the lamp.
        {IconShape::Frame, 0, 8, {1, 18, 29, 11}},
        {IconShape::Fill, -1, 7, {2, 19, 28, 2}},
        {IconShape::Fill, -1, 0, {4, 23, 12, 4}},
        {IconShape::Fill, -1, 10, {5, 24, 10, 2}},
        {IconShape::Fill, -1, 9, {24, 24, 3, 3}},
        // The arrow into the box: shaft and head.
        {IconShape::Frame, 4, 12, {12, 1, 7, 9}},
        {IconShape::Triangle, 4, 12, {7, 10, 24, 10, 15.5, 17}},
    };
    *count = sizeof shapes / sizeof shapes[0];
    return shapes;
}
