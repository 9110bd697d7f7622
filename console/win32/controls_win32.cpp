// SPDX-License-Identifier: MIT
// The Win32 side of the controls: the combo box, the progress bar and the
// rich-edit log, each through its own messages.
#include "dialog_base.h"
#include "dialog_controls.h"
#include "win32_backend.h"

#include <richedit.h>

#include <string>

namespace {

HWND Handle(const CDlgItem& item)
{
    return item.Dialog() ? Win32Control(*item.Dialog(), item.GetDlgCtrlID()) : nullptr;
}

}  // namespace

int CComboBox::AddString(const CString& text)
{
    HWND h = Handle(*this);
    if (!h)
        return -1;
    const LRESULT index = SendMessageW(h, CB_ADDSTRING, 0, LPARAM(ToWide(text).c_str()));
    return index < 0 ? -1 : int(index);
}

void CComboBox::ResetContent()
{
    if (HWND h = Handle(*this))
        SendMessageW(h, CB_RESETCONTENT, 0, 0);
}

int CComboBox::GetCount() const
{
    HWND h = Handle(*this);
    const LRESULT n = h ? SendMessageW(h, CB_GETCOUNT, 0, 0) : 0;
    return n < 0 ? 0 : int(n);
}

int CComboBox::GetCurSel() const
{
    HWND h = Handle(*this);
    const LRESULT sel = h ? SendMessageW(h, CB_GETCURSEL, 0, 0) : CB_ERR;
    return sel < 0 ? -1 : int(sel);
}

void CComboBox::SetCurSel(int index)
{
    if (HWND h = Handle(*this))
        SendMessageW(h, CB_SETCURSEL, WPARAM(index), 0);
}

CString CComboBox::GetLBText(int index) const
{
    HWND h = Handle(*this);
    if (!h)
        return CString();
    const LRESULT n = SendMessageW(h, CB_GETLBTEXTLEN, WPARAM(index), 0);
    if (n < 0)
        return CString();
    std::wstring text(size_t(n) + 1, L'\0');
    SendMessageW(h, CB_GETLBTEXT, WPARAM(index), LPARAM(text.data()));
    return FromWide(text.c_str());
}

void CProgressCtrl::SetRange(int lower, int upper)
{
    if (HWND h = Handle(*this))
        SendMessageW(h, PBM_SETRANGE32, WPARAM(lower), LPARAM(upper));
}

int CProgressCtrl::SetPos(int pos)
{
    HWND h = Handle(*this);
    return h ? int(SendMessageW(h, PBM_SETPOS, WPARAM(pos), 0)) : 0;
}

int CProgressCtrl::GetPos() const
{
    HWND h = Handle(*this);
    return h ? int(SendMessageW(h, PBM_GETPOS, 0, 0)) : 0;
}

void CRichEditCtrl::AppendColoredText(const CString& text, COLORREF color)
{
    HWND h = Handle(*this);
    if (!h)
        return;
    // The insertion point at the very end, whatever the operator selected.
    GETTEXTLENGTHEX length{GTL_NUMCHARS | GTL_PRECISE, 1200};
    const LRESULT end = SendMessageW(h, EM_GETTEXTLENGTHEX, WPARAM(&length), 0);
    SendMessageW(h, EM_SETSEL, WPARAM(end), LPARAM(end));
    // The colour goes on the insertion point, so it is this text's alone:
    // every line sets its own before it is inserted.
    CHARFORMAT2W cf{};
    cf.cbSize = sizeof cf;
    cf.dwMask = CFM_COLOR;
    cf.dwEffects = 0;  // not CFE_AUTOCOLOR
    cf.crTextColor = color;
    SendMessageW(h, EM_SETCHARFORMAT, SCF_SELECTION, LPARAM(&cf));
    SendMessageW(h, EM_REPLACESEL, FALSE, LPARAM(ToWide(text).c_str()));
    SendMessageW(h, WM_VSCROLL, SB_BOTTOM, 0);
}

void CRichEditCtrl::SetReadOnly(bool readOnly)
{
    if (HWND h = Handle(*this))
        SendMessageW(h, EM_SETREADONLY, readOnly ? TRUE : FALSE, 0);
}

namespace {

int CALLBACK NoteFace(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found)
{
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

bool HasFace(const wchar_t* face)
{
    LOGFONTW lf{};
    lf.lfCharSet = DEFAULT_CHARSET;
    wcsncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
    bool found = false;
    HDC dc = GetDC(nullptr);
    EnumFontFamiliesExW(dc, &lf, NoteFace, LPARAM(&found), 0);
    ReleaseDC(nullptr, dc);
    return found;
}

}  // namespace

void CRichEditCtrl::SetLogFont(int pointSize)
{
    HWND h = Handle(*this);
    if (!h)
        return;
    // A monospaced face made for the screen, so the time stamps line up;
    // Chinese text is drawn by the system's font linking (and the rich
    // edit's own font binding) from a Chinese face behind it. Windows has
    // the first three. The others are what Wine finds on Linux, where the
    // rich edit neither binds fonts nor gets linked ones: a face with both
    // Latin and Chinese first.
    static const wchar_t* const faces[] = {L"Consolas",         L"Lucida Console",
                                           L"Courier New",      L"WenQuanYi Micro Hei Mono",
                                           L"DejaVu Sans Mono", L"Liberation Mono"};
    const wchar_t* face = L"Courier New";
    for (const wchar_t* f : faces)
        if (HasFace(f)) {
            face = f;
            break;
        }
    CHARFORMAT2W cf{};
    cf.cbSize = sizeof cf;
    cf.dwMask = CFM_FACE | CFM_SIZE | CFM_CHARSET;
    cf.yHeight = LONG(pointSize) * 20;  // twips
    cf.bCharSet = DEFAULT_CHARSET;
    cf.bPitchAndFamily = FIXED_PITCH | FF_MODERN;
    wcsncpy(cf.szFaceName, face, LF_FACESIZE - 1);
    SendMessageW(h, EM_SETCHARFORMAT, SCF_DEFAULT, LPARAM(&cf));
    SendMessageW(h, EM_SETCHARFORMAT, SCF_ALL, LPARAM(&cf));
}

CString CRichEditCtrl::GetText() const
{
    HWND h = Handle(*this);
    if (!h)
        return CString();
    // As the other window system gives it: lines end in "\n".
    GETTEXTLENGTHEX length{GTL_NUMCHARS | GTL_PRECISE | GTL_USECRLF, 1200};
    const LRESULT n = SendMessageW(h, EM_GETTEXTLENGTHEX, WPARAM(&length), 0);
    if (n <= 0)
        return CString();
    std::wstring text(size_t(n) + 1, L'\0');
    GETTEXTEX get{};
    get.cb = DWORD(text.size() * sizeof(wchar_t));
    get.flags = GT_DEFAULT;
    get.codepage = 1200;  // UTF-16
    const LRESULT got = SendMessageW(h, EM_GETTEXTEX, WPARAM(&get), LPARAM(text.data()));
    text.resize(size_t(got > 0 ? got : 0));
    std::wstring lines;
    lines.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r') {
            lines += L'\n';
            if (i + 1 < text.size() && text[i + 1] == L'\n')
                ++i;
        } else {
            lines += text[i];
        }
    }
    return FromWide(lines.c_str());
}
