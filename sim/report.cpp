// SPDX-License-Identifier: MIT
#include "report.h"

#include <cstdio>

namespace stbsim {

namespace {
std::function<std::string()> g_preamble;

void Emit(const std::string& text)
{
    std::fputs("stbsim: ", stdout);
    std::fputs(text.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
}  // namespace

void SetVerdictPreamble(std::function<std::string()> preamble)
{
    g_preamble = std::move(preamble);
}

void Report(const std::string& text)
{
    if (g_preamble && (text.rfind("PASS", 0) == 0 || text.rfind("FAIL", 0) == 0))
        Emit(g_preamble());
    Emit(text);
}

std::string Hex(const unsigned char* data, std::size_t len)
{
    std::string s;
    char buf[4];
    for (std::size_t i = 0; i < len; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", data[i]);
        s += buf;
    }
    return s;
}

}  // namespace stbsim
