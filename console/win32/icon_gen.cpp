// SPDX-License-Identifier: MIT
// Writes marbrix.ico, the icon Explorer shows for marbrix.exe, from the
// drawing in app_icon.cpp: 16, 32 and 48 pixels, 32-bit colour with alpha
// and a mask. A build-time tool that runs on the build machine (Linux when
// cross-building), so it draws the shapes itself, following GDI's rules as
// the program's own run-time drawing (app_icon_win32.cpp) does: an outlined
// rectangle includes both edges, a filled one excludes the right and bottom.
//   marbrix_icon_gen OUT.ico
#include "app_icon.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

struct Canvas {
    int size;
    std::vector<uint32_t> argb;  // 0: transparent
    explicit Canvas(int n) : size(n), argb(size_t(n) * size_t(n), 0) {}
    void Put(int x, int y, uint32_t c)
    {
        if (x >= 0 && y >= 0 && x < size && y < size)
            argb[size_t(y) * size_t(size) + size_t(x)] = c;
    }
};

int Px(double units, double scale)
{
    return int(std::lround(units * scale));
}

void Line(Canvas& c, int x0, int y0, int x1, int y1, uint32_t colour)
{
    const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    for (;;) {
        c.Put(x0, y0, colour);
        if (x0 == x1 && y0 == y1)
            return;
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
}

double Side(double ax, double ay, double bx, double by, double px, double py)
{
    return (bx - ax) * (py - ay) - (by - ay) * (px - ax);
}

void Paint(Canvas& c)
{
    const double s = c.size / 32.0;
    size_t count = 0;
    const IconShape* shapes = MainFrameShapes(&count);
    for (size_t i = 0; i < count; ++i) {
        const IconShape& sh = shapes[i];
        const uint32_t fill = kIconPalette16[sh.brush & 15];
        const uint32_t pen = sh.pen >= 0 ? kIconPalette16[sh.pen & 15] : 0;
        switch (sh.kind) {
        case IconShape::Frame: {
            const int x = Px(sh.v[0], s), y = Px(sh.v[1], s);
            const int r = Px(sh.v[0] + sh.v[2], s), b = Px(sh.v[1] + sh.v[3], s);
            for (int py = y; py <= b; ++py)
                for (int px = x; px <= r; ++px) {
                    const bool edge = px == x || px == r || py == y || py == b;
                    c.Put(px, py, edge && sh.pen >= 0 ? pen : fill);
                }
            break;
        }
        case IconShape::Fill: {
            const int x = Px(sh.v[0], s), y = Px(sh.v[1], s);
            const int r = Px(sh.v[0] + sh.v[2], s), b = Px(sh.v[1] + sh.v[3], s);
            for (int py = y; py < b; ++py)
                for (int px = x; px < r; ++px)
                    c.Put(px, py, fill);
            break;
        }
        case IconShape::Triangle: {
            const int x0 = Px(sh.v[0], s), y0 = Px(sh.v[1], s);
            const int x1 = Px(sh.v[2], s), y1 = Px(sh.v[3], s);
            const int x2 = Px(sh.v[4], s), y2 = Px(sh.v[5], s);
            // The inside: pixels whose centre the three edges enclose.
            for (int py = 0; py < c.size; ++py)
                for (int px = 0; px < c.size; ++px) {
                    const double cx = px + 0.5, cy = py + 0.5;
                    const double a = Side(x0, y0, x1, y1, cx, cy);
                    const double b = Side(x1, y1, x2, y2, cx, cy);
                    const double d = Side(x2, y2, x0, y0, cx, cy);
                    if ((a >= 0 && b >= 0 && d >= 0) || (a <= 0 && b <= 0 && d <= 0))
                        c.Put(px, py, fill);
                }
            if (sh.pen >= 0) {
                Line(c, x0, y0, x1, y1, pen);
                Line(c, x1, y1, x2, y2, pen);
                Line(c, x2, y2, x0, y0, pen);
            }
            break;
        }
        }
    }
}

void Le16(std::vector<uint8_t>& out, unsigned v)
{
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

void Le32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}

// One image of an .ico: a BITMAPINFOHEADER (height doubled: colour and
// mask), the 32-bit pixels bottom-up, then the 1-bit AND mask.
std::vector<uint8_t> IconImage(const Canvas& c)
{
    const int n = c.size;
    const int maskStride = ((n + 31) / 32) * 4;
    std::vector<uint8_t> out;
    Le32(out, 40);
    Le32(out, uint32_t(n));
    Le32(out, uint32_t(2 * n));
    Le16(out, 1);
    Le16(out, 32);
    Le32(out, 0);  // BI_RGB
    Le32(out, uint32_t(n * n * 4 + maskStride * n));
    Le32(out, 0);
    Le32(out, 0);
    Le32(out, 0);
    Le32(out, 0);
    for (int y = n - 1; y >= 0; --y)
        for (int x = 0; x < n; ++x)
            Le32(out, c.argb[size_t(y) * size_t(n) + size_t(x)]);  // BGRA in memory order
    for (int y = n - 1; y >= 0; --y) {
        std::vector<uint8_t> row(size_t(maskStride), 0);
        for (int x = 0; x < n; ++x)
            if ((c.argb[size_t(y) * size_t(n) + size_t(x)] >> 24) == 0)
                row[size_t(x / 8)] |= uint8_t(0x80 >> (x % 8));
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: marbrix_icon_gen OUT.ico\n");
        return 2;
    }
    const int sizes[] = {16, 32, 48};
    std::vector<std::vector<uint8_t>> images;
    for (int n : sizes) {
        Canvas c(n);
        Paint(c);
        images.push_back(IconImage(c));
    }
    std::vector<uint8_t> ico;
    Le16(ico, 0);
    Le16(ico, 1);  // an icon
    Le16(ico, unsigned(images.size()));
    uint32_t offset = uint32_t(6 + 16 * images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        ico.push_back(uint8_t(sizes[i]));
        ico.push_back(uint8_t(sizes[i]));
        ico.push_back(0);  // no palette
        ico.push_back(0);
        Le16(ico, 1);   // planes
        Le16(ico, 32);  // bits per pixel
        Le32(ico, uint32_t(images[i].size()));
        Le32(ico, offset);
        offset += uint32_t(images[i].size());
    }
    for (const auto& image : images)
        ico.insert(ico.end(), image.begin(), image.end());
    FILE* f = fopen(argv[1], "wb");
    if (!f || fwrite(ico.data(), 1, ico.size(), f) != ico.size() || fclose(f) != 0) {
        perror(argv[1]);
        return 1;
    }
    return 0;
}
