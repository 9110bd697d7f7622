// SPDX-License-Identifier: MIT
// CString: the dialog's text type, UTF-8 inside on every system. The window
// system's side converts at its edge (to QString, or to UTF-16 for Win32),
// so the handlers never see either.
#pragma once

#include <cstdio>
#include <string>

// Lets the compiler check Format's arguments against its format string.
#if defined(__GNUC__)
#define CSTRING_PRINTF_LIKE __attribute__((format(printf, 2, 3)))
#else
#define CSTRING_PRINTF_LIKE
#endif

class CString {
public:
    CString() = default;
    CString(const char* s) : m_str(s ? s : "") {}
    CString(std::string s) : m_str(std::move(s)) {}

    // printf-style; the arguments' strings are UTF-8.
    void Format(const char* format, ...) CSTRING_PRINTF_LIKE;
    const char* GetString() const { return m_str.c_str(); }
    const std::string& Str() const { return m_str; }
    int GetLength() const { return int(m_str.size()); }  // in bytes
    bool IsEmpty() const { return m_str.empty(); }
    void Empty() { m_str.clear(); }

    CString& operator+=(const CString& s)
    {
        m_str += s.m_str;
        return *this;
    }
    friend CString operator+(CString a, const CString& b) { return a += b; }
    friend bool operator==(const CString& a, const CString& b) { return a.m_str == b.m_str; }
    friend bool operator==(const CString& a, const char* b) { return a.m_str == (b ? b : ""); }

    // Text in the system's narrow encoding (the engine's lines, the system's
    // error messages) as UTF-8: the locale's on POSIX, the ANSI code page on
    // Windows.
    static CString FromLocal8Bit(const char* text);

private:
    std::string m_str;
};

// fopen for a UTF-8 path; on Windows through the wide-character call, so a
// path with Chinese names opens whatever the ANSI code page is.
FILE* OpenFileUtf8(const CString& path, const char* mode);
