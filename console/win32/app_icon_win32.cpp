// SPDX-License-Identifier: MIT
#include "app_icon_win32.h"

#include "app_icon.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

COLORREF PaletteColour(int index)
{
    const uint32_t argb = kIconPalette16[index & 15];
    return RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF);
}

int Px(double units, double scale)
{
    return int(std::lround(units * scale));
}

// Draws the shapes onto dc. With `silhouette`, every shape in black: the
// opaque part of the icon, on a white background.
void PaintShapes(HDC dc, double s, bool silhouette)
{
    size_t count = 0;
    const IconShape* shapes = MainFrameShapes(&count);
    for (size_t i = 0; i < count; ++i) {
        const IconShape& sh = shapes[i];
        const COLORREF fill = silhouette ? RGB(0, 0, 0) : PaletteColour(sh.brush);
        HBRUSH brush = CreateSolidBrush(fill);
        HPEN pen = sh.pen >= 0 ? CreatePen(PS_SOLID, 1, silhouette ? RGB(0, 0, 0) : PaletteColour(sh.pen))
                               : static_cast<HPEN>(GetStockObject(NULL_PEN));
        HGDIOBJ oldBrush = SelectObject(dc, brush);
        HGDIOBJ oldPen = SelectObject(dc, pen);
        switch (sh.kind) {
        case IconShape::Frame: {
            // An outline one pixel wide on the shape's edges, both of them
            // included, as the other window system draws it.
            const int x = Px(sh.v[0], s), y = Px(sh.v[1], s);
            const int r = Px(sh.v[0] + sh.v[2], s), b = Px(sh.v[1] + sh.v[3], s);
            Rectangle(dc, x, y, r + 1, b + 1);
            break;
        }
        case IconShape::Fill: {
            RECT rc{Px(sh.v[0], s), Px(sh.v[1], s), Px(sh.v[0] + sh.v[2], s), Px(sh.v[1] + sh.v[3], s)};
            FillRect(dc, &rc, brush);
            break;
        }
        case IconShape::Triangle: {
            POINT pts[3] = {
                {Px(sh.v[0], s), Px(sh.v[1], s)}, {Px(sh.v[2], s), Px(sh.v[3], s)}, {Px(sh.v[4], s), Px(sh.v[5], s)}};
            Polygon(dc, pts, 3);
            break;
        }
        }
        SelectObject(dc, oldPen);
        SelectObject(dc, oldBrush);
        DeleteObject(brush);
        if (sh.pen >= 0)
            DeleteObject(pen);
    }
}

// A top-down 32-bit DIB section filled with `background`.
HBITMAP MakeCanvas(HDC dc, int size, COLORREF background, uint32_t** bits)
{
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = size;
    bi.bmiHeader.biHeight = -size;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* p = nullptr;
    HBITMAP bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &p, nullptr, 0);
    if (!bmp)
        return nullptr;
    *bits = static_cast<uint32_t*>(p);
    const uint32_t bgr = (GetRValue(background) << 16) | (GetGValue(background) << 8) | GetBValue(background);
    for (int i = 0; i < size * size; ++i)
        (*bits)[i] = bgr;
    return bmp;
}

}  // namespace

HICON CreateMainFrameIcon(int size)
{
    if (size <= 0)
        return nullptr;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    uint32_t* colour = nullptr;
    uint32_t* shape = nullptr;
    HBITMAP colourBmp = MakeCanvas(dc, size, RGB(0, 0, 0), &colour);
    HBITMAP shapeBmp = MakeCanvas(dc, size, RGB(255, 255, 255), &shape);
    HICON icon = nullptr;
    if (colourBmp && shapeBmp) {
        const double s = size / 32.0;
        HGDIOBJ old = SelectObject(dc, colourBmp);
        PaintShapes(dc, s, false);
        SelectObject(dc, shapeBmp);
        PaintShapes(dc, s, true);
        SelectObject(dc, old);
        GdiFlush();

        // The AND mask (1: transparent), one bit a pixel, rows padded to
        // 16 bits; and the colour's alpha from the same silhouette.
        const int stride = ((size + 15) / 16) * 2;
        std::vector<BYTE> mask(size_t(stride) * size_t(size), 0);
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                uint32_t& c = colour[y * size + x];
                if ((shape[y * size + x] & 0xFFFFFF) != 0) {
                    mask[size_t(y * stride + x / 8)] |= BYTE(0x80 >> (x % 8));
                    c = 0;
                } else {
                    c |= 0xFF000000u;
                }
            }
        HBITMAP maskBmp = CreateBitmap(size, size, 1, 1, mask.data());
        ICONINFO ii{};
        ii.fIcon = TRUE;
        ii.hbmMask = maskBmp;
        ii.hbmColor = colourBmp;
        icon = CreateIconIndirect(&ii);
        if (maskBmp)
            DeleteObject(maskBmp);
    }
    if (colourBmp)
        DeleteObject(colourBmp);
    if (shapeBmp)
        DeleteObject(shapeBmp);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return icon;
}
