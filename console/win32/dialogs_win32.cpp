// SPDX-License-Identifier: MIT
// The Win32 side's own dialogs: the common Open dialog and the question
// asked before a running download is abandoned.
#include "loader_dlg.h"
#include "win32_backend.h"

#include <commdlg.h>

#include <string>

namespace {

// "label|pattern|label|pattern||" (the MFC form) to the common dialog's
// "label\0pattern\0...\0\0".
std::wstring NulSeparatedFilter(const CString& mfcFilter)
{
    std::wstring f = ToWide(mfcFilter);
    while (!f.empty() && f.back() == L'|')
        f.pop_back();
    for (wchar_t& c : f)
        if (c == L'|')
            c = L'\0';
    f.push_back(L'\0');
    f.push_back(L'\0');
    return f;
}

}  // namespace

bool ChooseFileWithDialog(const FileChooserRequest& request, CString* path)
{
    const std::wstring filter = NulSeparatedFilter(request.filter);
    const std::wstring defExt = ToWide(request.defaultExt);
    // Long enough for any path the system can open.
    std::wstring file(32768, L'\0');
    const std::wstring initial = ToWide(request.initialName);
    file.replace(0, initial.size(), initial);

    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = GetActiveWindow();
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = DWORD(file.size());
    ofn.lpstrDefExt = defExt.empty() ? nullptr : defExt.c_str();
    ofn.Flags = OFN_HIDEREADONLY | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_EXPLORER;
    if (!GetOpenFileNameW(&ofn))
        return false;
    *path = FromWide(file.c_str());
    return true;
}

bool AskAbortAndQuitWithBox(CDialog* parent)
{
    HWND owner = parent ? Win32Window(*parent) : nullptr;
    std::wstring caption(256, L'\0');
    if (owner) {
        const int n = GetWindowTextW(owner, caption.data(), int(caption.size()));
        caption.resize(size_t(n > 0 ? n : 0));
    } else {
        caption = L"Marbrix";
    }
    return MessageBoxW(owner, L"A download is running. Abort it and quit?", caption.c_str(),
                       MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION) == IDYES;
}
