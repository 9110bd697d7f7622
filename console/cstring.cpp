// SPDX-License-Identifier: MIT
#include "cstring.h"

#include <cstdarg>
#include <vector>

void CString::Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int n = vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (n < 0) {
        va_end(again);
        m_str.clear();
        return;
    }
    std::vector<char> buf(size_t(n) + 1);
    vsnprintf(buf.data(), buf.size(), format, again);
    va_end(again);
    m_str.assign(buf.data(), size_t(n));
}
