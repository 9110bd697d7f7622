// SPDX-License-Identifier: MIT
#include "cstring.h"

// Linux consoles run in UTF-8 locales; the engine's own lines are ASCII.
CString CString::FromLocal8Bit(const char* text)
{
    return CString(text);
}

FILE* OpenFileUtf8(const CString& path, const char* mode)
{
    return fopen(path.GetString(), mode);
}
