// SPDX-License-Identifier: MIT
#include "cstring.h"

#include <cstdarg>
#include <vector>

#ifdef _WIN32
#include "win_types.h"
#endif

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

#ifdef _WIN32
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
#else
// Linux consoles run in UTF-8 locales; the engine's own lines are ASCII.
CString CString::FromLocal8Bit(const char* text)
{
    return CString(text);
}

FILE* OpenFileUtf8(const CString& path, const char* mode)
{
    return fopen(path.GetString(), mode);
}
#endif
