// SPDX-License-Identifier: MIT
#include "live_lines.h"

#include <cstdio>
#include <unistd.h>

namespace {

bool g_terminal = false;
std::vector<std::string> g_block;
size_t g_shown = 0;

void Put(const std::string& s)
{
    fwrite(s.data(), 1, s.size(), stderr);
}

void Erase()
{
    if (g_shown > 0)
        Put("\x1b[" + std::to_string(g_shown) + "A\r\x1b[J");
    g_shown = 0;
}

void Draw()
{
    std::string all;
    for (const std::string& l : g_block)
        all += l + "\x1b[K\n";
    Put(all);
    g_shown = g_block.size();
}

}  // namespace

void LiveLinesInit()
{
    g_terminal = isatty(STDERR_FILENO) == 1;
}

bool LiveLinesOnTerminal()
{
    return g_terminal;
}

void LivePrint(const std::string& line)
{
    if (!g_terminal) {
        Put(line + "\n");
        return;
    }
    Erase();
    Put(line + "\n");
    Draw();
}

void LiveUpdate(const std::vector<std::string>& lines)
{
    if (!g_terminal)
        return;
    Erase();
    g_block = lines;
    Draw();
}

void LiveClear()
{
    if (!g_terminal)
        return;
    Erase();
    g_block.clear();
}
