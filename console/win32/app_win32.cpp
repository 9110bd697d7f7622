// SPDX-License-Identifier: MIT
#include "app_win32.h"

#include "win32_backend.h"

#include <string>

namespace {

// A handle that leads somewhere: a console, a file or a pipe.
bool Usable(HANDLE h)
{
    return h && h != INVALID_HANDLE_VALUE && GetFileType(h) != FILE_TYPE_UNKNOWN;
}

bool WriteTo(HANDLE h, const CString& text)
{
    DWORD mode = 0;
    if (GetConsoleMode(h, &mode)) {
        // A console shows UTF-16 as it is, whatever its code page.
        const std::wstring w = ToWide(text);
        DWORD written = 0;
        return WriteConsoleW(h, w.c_str(), DWORD(w.size()), &written, nullptr) != 0;
    }
    DWORD written = 0;
    return WriteFile(h, text.GetString(), DWORD(text.GetLength()), &written, nullptr) != 0;
}

bool Write(DWORD stdHandle, const CString& text, bool boxIfNowhere)
{
    // Redirected (or Wine handing on the Unix streams): the handle is there.
    HANDLE h = GetStdHandle(stdHandle);
    if (Usable(h))
        return WriteTo(h, text);
    // Started from a console window: a GUI program gets no streams of its
    // own, but may write to the console of the program that started it.
    static bool attached = AttachConsole(ATTACH_PARENT_PROCESS) != 0;
    if (attached) {
        HANDLE con = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
        if (con != INVALID_HANDLE_VALUE) {
            const bool ok = WriteTo(con, text);
            CloseHandle(con);
            return ok;
        }
    }
    if (!boxIfNowhere)
        return false;
    MessageBoxW(nullptr, ToWide(text).c_str(), L"Marbrix",
                MB_OK | (stdHandle == STD_ERROR_HANDLE ? MB_ICONERROR : MB_ICONINFORMATION));
    return true;
}

}  // namespace

bool WriteStdOut(const CString& text, bool boxIfNowhere)
{
    return Write(STD_OUTPUT_HANDLE, text, boxIfNowhere);
}

bool WriteStdErr(const CString& text, bool boxIfNowhere)
{
    return Write(STD_ERROR_HANDLE, text, boxIfNowhere);
}
