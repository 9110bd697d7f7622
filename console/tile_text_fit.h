// SPDX-License-Identifier: MIT
// Fitting a tile's text to its width where the window system only cuts at
// the end (GDI's DrawText). Adapters on one bench differ in the last
// characters of their identity (the serial), so a name loses its middle, not
// its end; a failure's reason is what the operator acts on, so it may take a
// second row before anything is cut. Measure is any callable giving a
// string's width in pixels in the font it will be drawn in.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

constexpr wchar_t kTileEllipsis[] = L"...";

// TEXT itself when it fits WIDTH; else as many of its first and last
// characters as fit around "..." (the end keeps the odd one: it is the part
// that tells adapters apart).
template <class Measure>
std::wstring ElideMiddle(const std::wstring& text, int width, Measure measure)
{
    if (measure(text) <= width)
        return text;
    const auto cut = [&](size_t keep) {
        return text.substr(0, keep / 2) + kTileEllipsis + text.substr(text.size() - (keep - keep / 2));
    };
    // Keeping more characters never makes the text narrower: bisect on how
    // many are kept (lo fits, hi does not).
    size_t lo = 0, hi = text.size();
    while (hi - lo > 1) {
        const size_t mid = (lo + hi) / 2;
        if (measure(cut(mid)) <= width)
            lo = mid;
        else
            hi = mid;
    }
    return cut(lo);
}

// TEXT in one row when it fits WIDTH; else in two, split at the last space
// that leaves the first row within WIDTH (the second is left for the caller
// to cut at its end). One row, too wide, when no space gives a first row
// that fits.
template <class Measure>
std::vector<std::wstring> WrapTwoRows(const std::wstring& text, int width, Measure measure)
{
    if (measure(text) <= width)
        return {text};
    for (size_t space = text.rfind(L' '); space != std::wstring::npos && space > 0;
         space = text.rfind(L' ', space - 1)) {
        const size_t end = text.find_last_not_of(L' ', space);
        if (end == std::wstring::npos)
            break;  // only spaces before it
        std::wstring first = text.substr(0, end + 1);
        if (measure(first) > width)
            continue;
        const size_t rest = text.find_first_not_of(L' ', space);
        if (rest == std::wstring::npos)
            return {first};
        return {first, text.substr(rest)};
    }
    return {text};
}
