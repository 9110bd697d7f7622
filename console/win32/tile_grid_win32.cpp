// SPDX-License-Identifier: MIT
// The tile grid drawn by GDI: a window class of its own that the dialog
// template names, painted through a memory bitmap (32 tiles redrawn a few
// times a second must not flicker), scrolled by its own scroll bar, and
// CTileGrid's calls onto it.
#include "tile_grid_win32.h"
#include "dialog_base.h"
#include "tile_grid.h"
#include "tile_layout.h"
#include "win32_backend.h"

#include <windowsx.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

struct GridState {
    std::vector<TileContent> tiles;
    int selected = -1;
    int scrollY = 0;
    TileLayout layout;
};

GridState* State(HWND h)
{
    return h ? reinterpret_cast<GridState*>(GetWindowLongPtrW(h, GWLP_USERDATA)) : nullptr;
}

RECT TileRect(const GridState& s, int index)
{
    int x, y, cx, cy;
    s.layout.Place(index, &x, &y, &cx, &cy);
    return RECT{x, y - s.scrollY, x + cx, y + cy - s.scrollY};
}

void Reflow(HWND h, GridState& s)
{
    RECT client;
    GetClientRect(h, &client);
    // The client area excludes a shown scroll bar; the layout keeps its
    // width free either way.
    const int bar = GetSystemMetrics(SM_CXVSCROLL);
    const bool barShown = (GetWindowLongW(h, GWL_STYLE) & WS_VSCROLL) != 0;
    s.layout = TileLayout::For(client.right + (barShown ? bar : 0), bar, int(s.tiles.size()));
    const int maxScroll = std::max(0, s.layout.canvasHeight - int(client.bottom));
    s.scrollY = std::clamp(s.scrollY, 0, maxScroll);
    SCROLLINFO si{
        sizeof si, SIF_RANGE | SIF_PAGE | SIF_POS, 0, s.layout.canvasHeight - 1, UINT(client.bottom), s.scrollY, 0};
    SetScrollInfo(h, SB_VERT, &si, TRUE);
    InvalidateRect(h, nullptr, FALSE);
}

void ScrollTo(HWND h, GridState& s, int y)
{
    RECT client;
    GetClientRect(h, &client);
    const int maxScroll = std::max(0, s.layout.canvasHeight - int(client.bottom));
    y = std::clamp(y, 0, maxScroll);
    if (y == s.scrollY)
        return;
    s.scrollY = y;
    SetScrollPos(h, SB_VERT, y, TRUE);
    InvalidateRect(h, nullptr, FALSE);
}

HFONT MakeFont(int pixelHeight, bool bold)
{
    return CreateFontW(-pixelHeight, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, VARIABLE_PITCH | FF_SWISS,
                       L"Segoe UI");
}

// One line of text in a band of the tile, cut with "..." where it does not fit.
void Line(HDC dc, HFONT font, const CString& text, RECT band, UINT align)
{
    SelectObject(dc, font);
    const std::wstring w = ToWide(text);
    DrawTextW(dc, w.c_str(), int(w.size()), &band,
              align | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
}

void PaintTile(HDC dc, const TileContent& t, RECT r, bool selected)
{
    SelectObject(dc, GetStockObject(NULL_PEN));
    if (selected) {
        // A thick dark frame, not a colour of its own: a selection must not
        // be read as a state.
        HBRUSH frame = CreateSolidBrush(RGB(20, 20, 20));
        SelectObject(dc, frame);
        RoundRect(dc, r.left, r.top, r.right + 1, r.bottom + 1, 12, 12);
        DeleteObject(frame);
        InflateRect(&r, -4, -4);
    }
    HBRUSH back = CreateSolidBrush(t.back);
    SelectObject(dc, back);
    RoundRect(dc, r.left, r.top, r.right + 1, r.bottom + 1, 10, 10);
    DeleteObject(back);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, t.fore);

    const RECT inner{r.left + 6, r.top + 3, r.right - 6, r.bottom - 3};
    HFONT title = MakeFont(16, true), small = MakeFont(13, false);
    const int titleH = 20, smallH = 16;
    Line(dc, title, t.title, RECT{inner.left, inner.top, inner.right, inner.top + titleH}, DT_LEFT);
    Line(dc, small, t.subtitle, RECT{inner.left, inner.top + titleH, inner.right, inner.top + titleH + smallH},
         DT_LEFT);
    const int linesTop = inner.bottom - int(t.lines.size()) * smallH;
    const RECT wordBand{inner.left, inner.top + titleH + smallH, inner.right, linesTop};
    // As big as fits the band's height and width.
    const std::wstring word = ToWide(t.word);
    int size = std::min(34, int(wordBand.bottom - wordBand.top) - 2);
    HFONT wordFont = nullptr;
    for (; size >= 10; size -= 2) {
        if (wordFont)
            DeleteObject(wordFont);
        wordFont = MakeFont(size, true);
        SelectObject(dc, wordFont);
        SIZE extent{};
        GetTextExtentPoint32W(dc, word.c_str(), int(word.size()), &extent);
        if (extent.cx <= wordBand.right - wordBand.left)
            break;
    }
    Line(dc, wordFont, t.word, wordBand, DT_CENTER);
    int y = linesTop;
    for (const CString& line : t.lines) {
        Line(dc, small, line, RECT{inner.left, y, inner.right, y + smallH}, DT_CENTER);
        y += smallH;
    }
    SelectObject(dc, GetStockObject(SYSTEM_FONT));
    DeleteObject(wordFont);
    DeleteObject(title);
    DeleteObject(small);
}

void Paint(HWND h, GridState& s)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(h, &ps);
    RECT client;
    GetClientRect(h, &client);
    HDC mem = CreateCompatibleDC(dc);
    HBITMAP bmp = CreateCompatibleBitmap(dc, std::max<LONG>(1, client.right), std::max<LONG>(1, client.bottom));
    HGDIOBJ old = SelectObject(mem, bmp);
    FillRect(mem, &client, GetSysColorBrush(COLOR_WINDOW));
    for (int i = 0; i < int(s.tiles.size()); ++i) {
        const RECT r = TileRect(s, i);
        RECT hit;
        if (IntersectRect(&hit, &r, &ps.rcPaint))
            PaintTile(mem, s.tiles[size_t(i)], r, i == s.selected);
    }
    BitBlt(dc, ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right - ps.rcPaint.left,
           ps.rcPaint.bottom - ps.rcPaint.top, mem, ps.rcPaint.left, ps.rcPaint.top, SRCCOPY);
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    EndPaint(h, &ps);
}

void Select(HWND h, GridState& s, int index, bool notify)
{
    if (index < -1 || index >= int(s.tiles.size()) || index == s.selected)
        return;
    if (s.selected >= 0) {
        const RECT r = TileRect(s, s.selected);
        InvalidateRect(h, &r, FALSE);
    }
    s.selected = index;
    if (index >= 0) {
        RECT r = TileRect(s, index);
        InvalidateRect(h, &r, FALSE);
        RECT client;
        GetClientRect(h, &client);
        if (r.top < 0)
            ScrollTo(h, s, s.scrollY + r.top - TileLayout::kGap);
        else if (r.bottom > client.bottom)
            ScrollTo(h, s, s.scrollY + r.bottom - client.bottom + TileLayout::kGap);
    }
    if (notify)
        SendMessageW(GetParent(h), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(h), TGN_SELCHANGE), LPARAM(h));
}

LRESULT CALLBACK TileGridProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam)
{
    GridState* s = State(h);
    switch (message) {
    case WM_NCCREATE:
        SetWindowLongPtrW(h, GWLP_USERDATA, LONG_PTR(new GridState));
        break;
    case WM_NCDESTROY:
        delete s;
        SetWindowLongPtrW(h, GWLP_USERDATA, 0);
        break;
    case WM_SIZE:
        if (s)
            Reflow(h, *s);
        return 0;
    case WM_ERASEBKGND:
        return 1;  // the paint covers everything
    case WM_PAINT:
        if (s) {
            Paint(h, *s);
            return 0;
        }
        break;
    case WM_VSCROLL:
        if (s) {
            SCROLLINFO si{};
            si.cbSize = sizeof si;
            si.fMask = SIF_ALL;
            GetScrollInfo(h, SB_VERT, &si);
            int y = s->scrollY;
            switch (LOWORD(wParam)) {
            case SB_LINEUP:
                y -= TileLayout::kTileHeight / 4;
                break;
            case SB_LINEDOWN:
                y += TileLayout::kTileHeight / 4;
                break;
            case SB_PAGEUP:
                y -= int(si.nPage);
                break;
            case SB_PAGEDOWN:
                y += int(si.nPage);
                break;
            case SB_THUMBTRACK:
                y = si.nTrackPos;
                break;
            case SB_TOP:
                y = 0;
                break;
            case SB_BOTTOM:
                y = si.nMax;
                break;
            default:
                break;
            }
            ScrollTo(h, *s, y);
        }
        return 0;
    case WM_MOUSEWHEEL:
        if (s)
            ScrollTo(h, *s,
                     s->scrollY - GET_WHEEL_DELTA_WPARAM(wParam) * TileLayout::kTileHeight / (2 * WHEEL_DELTA));
        return 0;
    case WM_LBUTTONDOWN:
        if (s) {
            SetFocus(h);
            const POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            for (int i = 0; i < int(s->tiles.size()); ++i) {
                const RECT r = TileRect(*s, i);
                if (PtInRect(&r, p)) {
                    Select(h, *s, i, true);
                    break;
                }
            }
        }
        return 0;
    case WM_GETDLGCODE:
        return DLGC_WANTARROWS;
    case WM_KEYDOWN:
        // The arrows move the selection from tile to tile, as in a list.
        if (s && !s->tiles.empty()) {
            const int n = int(s->tiles.size()), cols = s->layout.columns;
            int to = s->selected < 0 ? 0 : s->selected;
            switch (wParam) {
            case VK_LEFT:
                to -= 1;
                break;
            case VK_RIGHT:
                to += 1;
                break;
            case VK_UP:
                to -= cols;
                break;
            case VK_DOWN:
                to += cols;
                break;
            default:
                return 0;
            }
            if (to >= 0 && to < n)
                Select(h, *s, to, true);
        }
        return 0;
    default:
        break;
    }
    return DefWindowProcW(h, message, wParam, lParam);
}

HWND Handle(const CDlgItem& item)
{
    return item.Dialog() ? Win32Control(*item.Dialog(), item.GetDlgCtrlID()) : nullptr;
}

}  // namespace

void RegisterTileGridClass()
{
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    wc.lpfnWndProc = TileGridProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kTileGridClass;
    RegisterClassExW(&wc);
}

void CTileGrid::SetTileCount(int count)
{
    HWND h = Handle(*this);
    if (GridState* s = State(h)) {
        s->tiles.resize(size_t(std::max(0, count)));
        if (s->selected >= count)
            s->selected = -1;
        Reflow(h, *s);
    }
}

int CTileGrid::GetTileCount() const
{
    GridState* s = State(Handle(*this));
    return s ? int(s->tiles.size()) : 0;
}

void CTileGrid::SetTile(int index, const TileContent& content)
{
    HWND h = Handle(*this);
    GridState* s = State(h);
    if (!s || index < 0 || index >= int(s->tiles.size()) || s->tiles[size_t(index)] == content)
        return;
    s->tiles[size_t(index)] = content;
    const RECT r = TileRect(*s, index);
    InvalidateRect(h, &r, FALSE);
}

TileContent CTileGrid::GetTile(int index) const
{
    GridState* s = State(Handle(*this));
    return s && index >= 0 && index < int(s->tiles.size()) ? s->tiles[size_t(index)] : TileContent();
}

int CTileGrid::GetCurSel() const
{
    GridState* s = State(Handle(*this));
    return s ? s->selected : -1;
}

void CTileGrid::SetCurSel(int index)
{
    HWND h = Handle(*this);
    if (GridState* s = State(h))
        Select(h, *s, index, false);
}
