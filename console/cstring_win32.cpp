// SPDX-License-Identifier: MIT
// CString's edge to Windows: UTF-16 for the wide calls, the ANSI code page
// for the system's narrow text.
#include "cstring.h"
#include "wide_string.h"
#include "win_types.h"

namespace {

std::wstring Widen(const std::string& s, UINT codePage)
{
    if (s.empty())
        return std::wstring();
    const int n = MultiByteToWideChar(codePage, 0, s.data(), int(s.size()), nullptr, 0);
    std::wstring w(size_t(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(codePage, 0, s.data(), int(s.size()), w.data(), n);
    return w;
}

std::string Narrow(const std::wstring& w)
{
    if (w.empty())
        return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(size_t(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

}  // namespace

CString CString::FromLocal8Bit(const char* text)
{
    return CString(Narrow(Widen(text ? text : "", CP_ACP)));
}

std::wstring ToWide(const CString& s)
{
    return Widen(s.Str(), CP_UTF8);
}

CString FromWide(const wchar_t* s)
{
    return CString(Narrow(s ? std::wstring(s) : std::wstring()));
}

FILE* OpenFileUtf8(const CString& path, const char* mode)
{
    return _wfopen(ToWide(path).c_str(), Widen(mode, CP_UTF8).c_str());
}
