// SPDX-License-Identifier: MIT
// The tile grid drawn by GDI: a window class of its own that the dialog
// template names, painted through a memory bitmap (32 tiles redrawn a few
// times a second must not flicker), scrolled by its own scroll bar, and
// CTileGrid's calls onto it.
#include "tile_grid_win32.h"
#include "dialog_base.h"
#include "tile_grid.h"
#include "tile_layout.h"
#include "tile_text_fit.h"
#include "win32_backend.h"

#include <windowsx.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

// The selection's frame lies in the gap around the tile, so that a selected
// tile keeps its text where it was and as wide as its neighbours'.
constexpr int kMarkWidth = 4;
static_assert(kMarkWidth < TileLayout::kGap, "the frame must not reach the next tile");

// Pixel heights. The word is what is read from across the bench; the rows
// under it are read close up and may shrink to kSmallestPx to fit.
constexpr int kTitlePx = 16, kTitleRow = 20;
constexpr int kSmallPx = 13, kSmallestPx = 11, kSmallRow = 16;
constexpr int kWordMaxPx = 34, kWordMinPx = 10;
// A row given to a long text must leave the word at least this much.
constexpr int kLeastWordBand = 28;

// Fonts by pixel height and weight, made once per grid: every repaint of a
// tile needs several (the word tries sizes until one fits), and a grid of 32
// tiles repaints a few times a second.
class FontCache {
public:
    FontCache() = default;
    FontCache(const FontCache&) = delete;
    FontCache& operator=(const FontCache&) = delete;
    ~FontCache()
    {
        for (auto& entry : m_fonts)
            DeleteObject(entry.second);
    }
    HFONT Get(int pixelHeight, bool bold)
    {
        HFONT& f = m_fonts[{pixelHeight, bold}];
        if (!f)
            f = CreateFontW(-pixelHeight, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                            OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, VARIABLE_PITCH | FF_SWISS,
                            L"Segoe UI");
        return f;
    }

private:
    std::map<std::pair<int, bool>, HFONT> m_fonts;
};

// The sizes a tile's lines were last drawn at. A line that had to shrink
// keeps that size while its tile shows the same word: a progress line whose
// width changes with its figures (9.8 KB/s, then 10 KB/s) would otherwise
// jump between two sizes a few times a second.
struct LineSizes {
    CString word;
    std::vector<int> px;
};

struct GridState {
    std::vector<TileContent> tiles;
    std::vector<LineSizes> lineSizes;  // one per tile
    int selected = -1;
    int scrollY = 0;
    TileLayout layout;
    FontCache fonts;
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

// What a tile covers on the screen: with its selection frame when it has one.
RECT TileArea(const GridState& s, int index)
{
    RECT r = TileRect(s, index);
    if (index == s.selected)
        InflateRect(&r, kMarkWidth, kMarkWidth);
    return r;
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
    // Wider tiles may have room for the lines' full size again.
    s.lineSizes.assign(s.tiles.size(), LineSizes());
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

int TextWidth(HDC dc, const std::wstring& text)
{
    SIZE extent{};
    GetTextExtentPoint32W(dc, text.c_str(), int(text.size()), &extent);
    return int(extent.cx);
}

// One row of text in a band of the tile. DrawText's own "..." stays as the
// last resort for what the fitting before left too wide.
void Row(HDC dc, HFONT font, const std::wstring& text, RECT band, UINT align)
{
    SelectObject(dc, font);
    DrawTextW(dc, text.c_str(), int(text.size()), &band,
              align | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
}

// A name row (title, subtitle): cut in the middle, where names sharing a
// maker and a model are alike.
void NameRow(HDC dc, HFONT font, const CString& text, RECT band)
{
    SelectObject(dc, font);
    const std::wstring fitted = ElideMiddle(ToWide(text), int(band.right - band.left),
                                            [dc](const std::wstring& w) { return TextWidth(dc, w); });
    Row(dc, font, fitted, band, DT_LEFT);
}

// A line under the word, as it will be drawn: in one row at the first
// size from LARGEST down to kSmallestPx at which it fits, else in two rows
// at kSmallPx (a failure's reason is read whole, not guessed from its
// start), else one row cut at its end.
struct FittedLine {
    int px = kSmallPx;
    std::vector<std::wstring> rows;
};

FittedLine FitLine(HDC dc, FontCache& fonts, const CString& line, int width, bool twoRowsAllowed, int largest)
{
    const std::wstring text = ToWide(line);
    const auto measure = [dc](const std::wstring& w) { return TextWidth(dc, w); };
    for (int px = std::min(largest, kSmallPx); px >= kSmallestPx; --px) {
        SelectObject(dc, fonts.Get(px, false));
        if (measure(text) <= width)
            return {px, {text}};
    }
    if (twoRowsAllowed) {
        SelectObject(dc, fonts.Get(kSmallPx, false));
        std::vector<std::wstring> rows = WrapTwoRows(text, width, measure);
        if (rows.size() == 2)
            return {kSmallPx, rows};
    }
    return {kSmallestPx, {text}};
}

void PaintTile(HDC dc, FontCache& fonts, const TileContent& t, LineSizes& sizes, RECT r, bool selected)
{
    SelectObject(dc, GetStockObject(NULL_PEN));
    if (selected) {
        // A thick dark frame, not a colour of its own: a selection must not
        // be read as a state.
        HBRUSH frame = CreateSolidBrush(RGB(20, 20, 20));
        SelectObject(dc, frame);
        RoundRect(dc, r.left - kMarkWidth, r.top - kMarkWidth, r.right + kMarkWidth + 1, r.bottom + kMarkWidth + 1,
                  14, 14);
        SelectObject(dc, GetStockObject(NULL_BRUSH));
        DeleteObject(frame);
    }
    HBRUSH back = CreateSolidBrush(t.back);
    SelectObject(dc, back);
    RoundRect(dc, r.left, r.top, r.right + 1, r.bottom + 1, 10, 10);
    SelectObject(dc, GetStockObject(NULL_BRUSH));
    DeleteObject(back);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, t.fore);

    const RECT inner{r.left + 6, r.top + 3, r.right - 6, r.bottom - 3};
    const int width = int(inner.right - inner.left);
    NameRow(dc, fonts.Get(kTitlePx, true), t.title, RECT{inner.left, inner.top, inner.right, inner.top + kTitleRow});
    NameRow(dc, fonts.Get(kSmallPx, false), t.subtitle,
            RECT{inner.left, inner.top + kTitleRow, inner.right, inner.top + kTitleRow + kSmallRow});
    const int wordTop = inner.top + kTitleRow + kSmallRow;

    // The lines take the rows they need from the bottom up, a second row for
    // one of them only while the word keeps kLeastWordBand.
    if (sizes.word != t.word) {
        sizes.word = t.word;
        sizes.px.clear();
    }
    sizes.px.resize(t.lines.size(), kSmallPx);
    std::vector<FittedLine> lines;
    int rows = int(t.lines.size());
    for (size_t i = 0; i < t.lines.size(); ++i) {
        const bool roomForTwo = inner.bottom - (rows + 1) * kSmallRow - wordTop >= kLeastWordBand;
        lines.push_back(FitLine(dc, fonts, t.lines[i], width, roomForTwo, sizes.px[i]));
        sizes.px[i] = lines.back().px;
        rows += int(lines.back().rows.size()) - 1;
    }
    const int linesTop = inner.bottom - rows * kSmallRow;

    // The word as big as fits the band's height and width.
    const RECT wordBand{inner.left, wordTop, inner.right, linesTop};
    const std::wstring word = ToWide(t.word);
    int px = std::min(kWordMaxPx, int(wordBand.bottom - wordBand.top) - 2);
    for (; px > kWordMinPx; px -= 2) {
        SelectObject(dc, fonts.Get(px, true));
        if (TextWidth(dc, word) <= width)
            break;
    }
    Row(dc, fonts.Get(std::max(px, kWordMinPx), true), word, wordBand, DT_CENTER);

    int y = linesTop;
    for (const FittedLine& line : lines)
        for (const std::wstring& row : line.rows) {
            Row(dc, fonts.Get(line.px, false), row, RECT{inner.left, y, inner.right, y + kSmallRow}, DT_CENTER);
            y += kSmallRow;
        }
}

void Paint(HWND h, GridState& s)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(h, &ps);
    const RECT& area = ps.rcPaint;
    const int cx = std::max<int>(1, area.right - area.left), cy = std::max<int>(1, area.bottom - area.top);
    // Drawn off the screen and put on it in one piece, so that a tile is
    // never seen half painted; the bitmap covers only what is repainted
    // (mostly one tile whose progress moved), in the client's coordinates.
    HDC mem = CreateCompatibleDC(dc);
    HBITMAP bmp = CreateCompatibleBitmap(dc, cx, cy);
    HGDIOBJ oldBitmap = SelectObject(mem, bmp);
    HGDIOBJ oldFont = SelectObject(mem, GetStockObject(DEFAULT_GUI_FONT));
    SetViewportOrgEx(mem, -area.left, -area.top, nullptr);
    s.lineSizes.resize(s.tiles.size());
    FillRect(mem, &area, GetSysColorBrush(COLOR_WINDOW));
    for (int i = 0; i < int(s.tiles.size()); ++i) {
        const RECT covered = TileArea(s, i);
        RECT hit;
        if (IntersectRect(&hit, &covered, &area))
            PaintTile(mem, s.fonts, s.tiles[size_t(i)], s.lineSizes[size_t(i)], TileRect(s, i), i == s.selected);
    }
    BitBlt(dc, area.left, area.top, cx, cy, mem, area.left, area.top, SRCCOPY);
    SelectObject(mem, oldFont);
    SelectObject(mem, oldBitmap);
    DeleteObject(bmp);
    DeleteDC(mem);
    EndPaint(h, &ps);
}

void Select(HWND h, GridState& s, int index, bool notify)
{
    if (index < -1 || index >= int(s.tiles.size()) || index == s.selected)
        return;
    if (s.selected >= 0) {
        const RECT was = TileArea(s, s.selected);
        InvalidateRect(h, &was, FALSE);
    }
    s.selected = index;
    if (index >= 0) {
        const RECT framed = TileArea(s, index);
        InvalidateRect(h, &framed, FALSE);
        const RECT r = TileRect(s, index);
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
