// SPDX-License-Identifier: MIT
#include "results_device.h"

#include <windows.h>

#include <filesystem>

namespace {

std::string SystemWords(DWORD error)
{
    char* text = nullptr;
    const DWORD n =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string words = n && text ? std::string(text, n) : "error " + std::to_string(error);
    LocalFree(text);
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == '.'))
        words.pop_back();
    return words;
}

std::wstring Wide(const std::string& utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end())).wstring();
}

}  // namespace

intptr_t ResultsDeviceOpen(const std::string& path, std::string* why)
{
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end,
    // the lines already there cannot be overwritten through this handle.
    HANDLE h = CreateFileW(Wide(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *why = SystemWords(GetLastError());
        return -1;
    }
    if (GetFileType(h) != FILE_TYPE_DISK && GetFileType(h) != FILE_TYPE_CHAR) {
        CloseHandle(h);
        *why = "not a regular file";
        return -1;
    }
    return reinterpret_cast<intptr_t>(h);
}

bool ResultsDeviceAppend(intptr_t device, const std::string& bytes, std::string* why)
{
    HANDLE h = reinterpret_cast<HANDLE>(device);
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD n = 0;
        if (!WriteFile(h, bytes.data() + done, DWORD(bytes.size() - done), &n, nullptr) || n == 0) {
            *why = n == 0 && GetLastError() == ERROR_SUCCESS ? "it took nothing" : SystemWords(GetLastError());
            return false;
        }
        done += n;
    }
    // On the disk before the next box ends; NUL cannot flush and need not.
    if (GetFileType(h) == FILE_TYPE_DISK && !FlushFileBuffers(h)) {
        *why = SystemWords(GetLastError());
        return false;
    }
    return true;
}

void ResultsDeviceClose(intptr_t device)
{
    CloseHandle(reinterpret_cast<HANDLE>(device));
}

std::string ResultsFolder()
{
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    if (!local || !local[0])
        return std::string();
    const std::u8string folder = (std::filesystem::path(local) / L"Marbrix").u8string();
    return std::string(folder.begin(), folder.end());
}
