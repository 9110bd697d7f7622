// SPDX-License-Identifier: MIT
// The Win32 side of the dialog layer: CDialog's window is a real dialog,
// made by the system's dialog manager from an in-memory DLGTEMPLATEEX built
// out of the same DlgTemplate the Qt side reads. The keys, the close box,
// the window menu and the default button are the dialog manager's own; this
// file only routes what it reports to CDialog's handlers.
#include "dialog_base.h"

#include "app_icon_win32.h"
#include "dialog_controls.h"
#include "menu_button_win32.h"
#include "tile_grid_win32.h"
#include "win32_backend.h"

#include <richedit.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// --- the in-memory template ---------------------------------------------

// DLGTEMPLATEEX and DLGITEMTEMPLATEEX have no declaration in the headers
// (their strings have variable length): they are written field by field.
class TemplateWriter {
public:
    void Word(WORD w) { Put(&w, sizeof w); }
    void Dword(DWORD d) { Put(&d, sizeof d); }
    void Short(short s) { Put(&s, sizeof s); }
    void Byte(BYTE b) { Put(&b, sizeof b); }
    void String(const std::wstring& s) { Put(s.c_str(), (s.size() + 1) * sizeof(wchar_t)); }
    // A predefined class given by its atom.
    void Ordinal(WORD atom)
    {
        Word(0xFFFF);
        Word(atom);
    }
    void AlignDword()
    {
        while (m_bytes.size() % 4)
            m_bytes.push_back(0);
    }
    size_t Size() const { return m_bytes.size(); }
    void PatchWord(size_t at, WORD w) { std::memcpy(&m_bytes[at], &w, sizeof w); }
    std::vector<BYTE> Take() { return std::move(m_bytes); }

private:
    void Put(const void* p, size_t n)
    {
        const BYTE* b = static_cast<const BYTE*>(p);
        m_bytes.insert(m_bytes.end(), b, b + n);
    }
    std::vector<BYTE> m_bytes;
};

constexpr WORD kButtonAtom = 0x0080;
constexpr WORD kStaticAtom = 0x0082;
constexpr WORD kComboBoxAtom = 0x0085;

struct ItemStyle {
    DWORD style;
    DWORD exStyle;
};

ItemStyle StyleOf(const DlgItemTemplate& item)
{
    DWORD style = WS_CHILD | WS_VISIBLE;
    DWORD ex = 0;
    if (item.style & DS_TABSTOP)
        style |= WS_TABSTOP;
    if (item.style & DS_GROUP)
        style |= WS_GROUP;
    switch (item.cls) {
    case DlgClass::GroupBox:
        style |= BS_GROUPBOX;
        break;
    case DlgClass::ComboBox:
        style |= CBS_DROPDOWNLIST | WS_VSCROLL;
        break;
    case DlgClass::PushButton:
        style |= (item.style & DS_DEFPUSH) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
        if (item.style & DS_FLAT)
            style |= BS_FLAT;
        // A sunken push button (Start) sits in a thin sunken edge.
        if (item.style & DS_SUNKEN)
            ex |= WS_EX_STATICEDGE;
        break;
    case DlgClass::Static:
        style |= (item.style & DS_CENTER_TEXT) ? (SS_CENTER | SS_CENTERIMAGE) : SS_LEFT;
        if (item.style & DS_SUNKEN)
            style |= SS_SUNKEN;
        if (item.style & DS_BORDER)
            style |= WS_BORDER;
        if (item.style & DS_PATH_ELLIPSIS)
            style |= SS_PATHELLIPSIS;
        // Texts the program sets (paths, port names) are shown as they
        // are: an "&" in a folder name is no mnemonic.
        if (item.id != -1)
            style |= SS_NOPREFIX;
        break;
    case DlgClass::StaticIcon:
        style |= SS_ICON;
        break;
    case DlgClass::RichEdit:
        style |= ES_MULTILINE | WS_VSCROLL | ES_AUTOVSCROLL;
        if (item.style & DS_BORDER)
            style |= WS_BORDER;
        if (item.style & DS_SUNKEN)
            ex |= WS_EX_CLIENTEDGE;
        break;
    case DlgClass::Progress:
        if (item.style & DS_SMOOTH)
            style |= PBS_SMOOTH;
        if (item.style & DS_BORDER)
            style |= WS_BORDER;
        break;
    case DlgClass::MenuButton:
        style |= BS_PUSHBUTTON;
        break;
    case DlgClass::TileGrid:
        style |= WS_VSCROLL;
        ex |= WS_EX_CLIENTEDGE;
        break;
    }
    return ItemStyle{style, ex};
}

std::vector<BYTE> BuildTemplate(const DlgTemplate& t)
{
    DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_CENTER;
    if (t.sizable)
        style |= WS_THICKFRAME;
    DWORD ex = t.appWindow ? WS_EX_APPWINDOW : 0;

    TemplateWriter w;
    w.Word(1);       // dlgVer
    w.Word(0xFFFF);  // signature: DLGTEMPLATEEX
    w.Dword(0);      // helpID
    w.Dword(ex);
    w.Dword(style);
    w.Word(WORD(t.items.size()));
    w.Short(0);
    w.Short(0);
    w.Short(short(t.cx));
    w.Short(short(t.cy));
    w.Word(0);  // no menu
    w.Word(0);  // the dialog class
    w.String(ToWide(t.caption));
    // DS_SETFONT: point size, weight, italic, character set, face. The
    // Song face's character set, so the system picks a face that has the
    // Chinese characters of the captions should the face itself be missing.
    w.Word(WORD(t.pointSize));
    w.Word(FW_NORMAL);
    w.Byte(FALSE);
    w.Byte(GB2312_CHARSET);
    w.String(ToWide(t.face));

    for (const DlgItemTemplate& item : t.items) {
        w.AlignDword();
        const ItemStyle s = StyleOf(item);
        w.Dword(0);  // helpID
        w.Dword(s.exStyle);
        w.Dword(s.style);
        w.Short(short(item.x));
        w.Short(short(item.y));
        w.Short(short(item.cx));
        w.Short(short(item.cy));
        w.Dword(DWORD(item.id));
        switch (item.cls) {
        case DlgClass::GroupBox:
        case DlgClass::PushButton:
        case DlgClass::MenuButton:
            w.Ordinal(kButtonAtom);
            break;
        case DlgClass::ComboBox:
            w.Ordinal(kComboBoxAtom);
            break;
        case DlgClass::Static:
        case DlgClass::StaticIcon:
            w.Ordinal(kStaticAtom);
            break;
        case DlgClass::RichEdit:
            w.String(MSFTEDIT_CLASS);
            break;
        case DlgClass::Progress:
            w.String(PROGRESS_CLASSW);
            break;
        case DlgClass::TileGrid:
            w.String(kTileGridClass);
            break;
        }
        // The icon static gets its picture at WM_INITDIALOG (STM_SETICON),
        // not from a resource name.
        std::wstring text = item.cls == DlgClass::StaticIcon ? std::wstring() : ToWide(item.text);
        if (item.cls == DlgClass::MenuButton)
            text += kMenuButtonMark;
        w.String(text);
        w.Word(0);  // no creation data
    }
    return w.Take();
}

// Tab leaves the log for the next control, as in any other field of the
// dialog: the log is read-only, nothing in it takes a tab.
LRESULT CALLBACK LogKeysProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    if (message == WM_GETDLGCODE)
        return DefSubclassProc(hWnd, message, wParam, lParam) & ~LRESULT(DLGC_WANTTAB);
    if (message == WM_NCDESTROY)
        RemoveWindowSubclass(hWnd, LogKeysProc, 0);
    return DefSubclassProc(hWnd, message, wParam, lParam);
}

// The classes the template names that the system does not register by
// itself: the rich edit of Msftedit.dll, the common controls' progress bar
// and the tile grid. Loaded once, before the first dialog.
void LoadControlClasses()
{
    static bool loaded = false;
    if (loaded)
        return;
    loaded = true;
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    LoadLibraryW(L"Msftedit.dll");
    RegisterTileGridClass();
}

}  // namespace

// --- the dialog's window ---------------------------------------------------

class CDialogImpl {
public:
    CDialogImpl(CDialog* owner, const DlgTemplate& tmpl, CDialog* parent)
        : m_owner(owner), m_template(tmpl), m_parent(parent)
    {
    }
    ~CDialogImpl()
    {
        if (m_hWnd) {
            // The owner is being destroyed: the window goes without calling
            // back into it.
            SetWindowLongPtrW(m_hWnd, DWLP_USER, 0);
            DestroyWindow(m_hWnd);
        }
        DestroyIcons();
    }

    // The parent's window. Without a parent, a modal dialog is owned by the
    // window this thread has active, as in MFC (the About box over the main
    // dialog, which stays disabled meanwhile); a modeless one by none, so it
    // never goes with another dialog's window.
    HWND OwnerWindow(bool modal) const
    {
        if (m_parent && m_parent->Impl()->m_hWnd)
            return m_parent->Impl()->m_hWnd;
        return modal ? GetActiveWindow() : nullptr;
    }

    HWND Item(int id) const { return m_hWnd ? GetDlgItem(m_hWnd, id) : nullptr; }
    bool IsMenuButton(int id) const
    {
        for (const DlgItemTemplate& item : m_template.items)
            if (item.id == id)
                return item.cls == DlgClass::MenuButton;
        return false;
    }

    void EnsureIcons()
    {
        if (!m_hIconBig)
            m_hIconBig = CreateMainFrameIcon(GetSystemMetrics(SM_CXICON) > 0 ? GetSystemMetrics(SM_CXICON) : 32);
        if (!m_hIconSmall)
            m_hIconSmall =
                CreateMainFrameIcon(GetSystemMetrics(SM_CXSMICON) > 0 ? GetSystemMetrics(SM_CXSMICON) : 16);
    }
    void DestroyIcons()
    {
        if (m_hIconBig)
            DestroyIcon(m_hIconBig);
        if (m_hIconSmall)
            DestroyIcon(m_hIconSmall);
        m_hIconBig = m_hIconSmall = nullptr;
    }

    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

    CDialog* m_owner;
    const DlgTemplate& m_template;
    CDialog* m_parent;
    std::vector<BYTE> m_templateBytes;
    HWND m_hWnd = nullptr;
    bool m_bModal = false;
    bool m_bDestroyed = false;
    // The controls in template order, and their places at the template's
    // size in client pixels.
    std::vector<HWND> m_controls;
    std::vector<RECT> m_baseRects;
    SIZE m_baseClient{};
    POINT m_minTrack{};
    HICON m_hIconBig = nullptr;
    HICON m_hIconSmall = nullptr;

private:
    BOOL OnInitDialog(HWND hWnd);
    void OnSize(int cx, int cy);
    bool OnPaintIconic();
    INT_PTR Result(LRESULT result)
    {
        SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result);
        return TRUE;
    }
};

BOOL CDialogImpl::OnInitDialog(HWND hWnd)
{
    m_hWnd = hWnd;
    m_bDestroyed = false;

    // The children in creation order are the template's items.
    m_controls.clear();
    m_baseRects.clear();
    for (HWND c = GetWindow(hWnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        RECT r;
        GetWindowRect(c, &r);
        MapWindowPoints(nullptr, hWnd, reinterpret_cast<POINT*>(&r), 2);
        m_controls.push_back(c);
        m_baseRects.push_back(r);
    }
    RECT client, window;
    GetClientRect(hWnd, &client);
    GetWindowRect(hWnd, &window);
    m_baseClient = SIZE{client.right, client.bottom};
    m_minTrack = POINT{window.right - window.left, window.bottom - window.top};

    for (size_t i = 0; i < m_controls.size() && i < m_template.items.size(); ++i) {
        const DlgItemTemplate& item = m_template.items[i];
        if (item.cls == DlgClass::StaticIcon) {
            EnsureIcons();
            SendMessageW(m_controls[i], STM_SETICON, WPARAM(m_hIconBig), 0);
        } else if (item.cls == DlgClass::RichEdit) {
            // The rich edit's default limit (32K characters) would end a
            // long session's log part-way.
            SendMessageW(m_controls[i], EM_EXLIMITTEXT, 0, 0x7FFFFFFE);
            SetWindowSubclass(m_controls[i], LogKeysProc, 0, 0);
        } else if (item.cls == DlgClass::Progress) {
            SendMessageW(m_controls[i], PBM_SETRANGE32, 0, 100);
        }
    }

    // TRUE: the dialog manager puts the focus on the first tab stop.
    return m_owner->RunInitDialog() ? TRUE : FALSE;
}

void CDialogImpl::OnSize(int cx, int cy)
{
    if (!m_template.sizable || m_controls.empty())
        return;
    const int dx = std::max(0, cx - int(m_baseClient.cx));
    const int dy = std::max(0, cy - int(m_baseClient.cy));
    HDWP dwp = BeginDeferWindowPos(int(m_controls.size()));
    for (size_t i = 0; i < m_controls.size() && i < m_template.items.size(); ++i) {
        const unsigned style = m_template.items[i].style;
        RECT r = m_baseRects[i];
        UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
        if (style & DS_MOVE_X)
            OffsetRect(&r, dx, 0);
        if (style & DS_SIZE_X)
            r.right += dx;
        if (style & DS_SIZE_Y)
            r.bottom += dy;
        if (style & DS_MOVE_Y)
            OffsetRect(&r, 0, dy);
        // A combo box's window is as tall as its dropped list; only moved.
        if (!(style & (DS_SIZE_X | DS_SIZE_Y)))
            flags |= SWP_NOSIZE;
        if (dwp)
            dwp =
                DeferWindowPos(dwp, m_controls[i], nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, flags);
        else
            SetWindowPos(m_controls[i], nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, flags);
    }
    if (dwp)
        EndDeferWindowPos(dwp);
    // Centred texts and the group box's frame are drawn for the old size.
    InvalidateRect(m_hWnd, nullptr, TRUE);
}

// A minimised dialog paints its icon centred.
bool CDialogImpl::OnPaintIconic()
{
    if (!::IsIconic(m_hWnd) || !m_hIconBig)
        return false;
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(m_hWnd, &ps);
    SendMessageW(m_hWnd, WM_ICONERASEBKGND, WPARAM(dc), 0);
    RECT rc;
    GetClientRect(m_hWnd, &rc);
    const int cxIcon = GetSystemMetrics(SM_CXICON), cyIcon = GetSystemMetrics(SM_CYICON);
    DrawIcon(dc, (rc.right - cxIcon + 1) / 2, (rc.bottom - cyIcon + 1) / 2, m_hIconBig);
    EndPaint(m_hWnd, &ps);
    return true;
}

INT_PTR CALLBACK CDialogImpl::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CDialogImpl* self;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDialogImpl*>(lParam);
        SetWindowLongPtrW(hWnd, DWLP_USER, LONG_PTR(self));
        return self->OnInitDialog(hWnd);
    }
    self = reinterpret_cast<CDialogImpl*>(GetWindowLongPtrW(hWnd, DWLP_USER));
    if (!self)
        return FALSE;
    CDialog* owner = self->m_owner;
    LRESULT result = 0;

    switch (message) {
    case WM_COMMAND:
        // BN_CLICKED and CBN_DROPDOWN from the controls; IDOK and IDCANCEL
        // from the dialog manager for Enter and Esc. A menu button's click
        // opens its menu, which reports to the handlers itself.
        if (HIWORD(wParam) == BN_CLICKED && lParam && self->IsMenuButton(int(LOWORD(wParam)))) {
            RunButtonMenu(*owner, reinterpret_cast<HWND>(lParam), int(LOWORD(wParam)));
            return self->Result(0);
        }
        return owner->OnWndMsg(message, wParam, lParam, &result) ? self->Result(result) : FALSE;
    case WM_SYSCOMMAND:
        // The dialog's own entries of the window menu; the system's
        // (move, size, close) go on to the default handling.
        if ((wParam & 0xFFF0) < 0xF000)
            return owner->OnWndMsg(message, wParam, lParam, &result) ? self->Result(result) : FALSE;
        return FALSE;
    case WM_CLOSE:
        // Handled here, so the dialog manager does not turn it into IDCANCEL:
        // the close box is OnClose's to decide.
        owner->OnWndMsg(message, wParam, lParam, &result);
        return self->Result(0);
    case WM_TIMER:
        owner->OnWndMsg(message, wParam, lParam, &result);
        return self->Result(0);
    case WM_CTLCOLORSTATIC: {
        const int id = short(GetDlgCtrlID(reinterpret_cast<HWND>(lParam)));
        if (id == -1)
            return FALSE;
        const COLORREF colour = owner->OnCtlColor(id);
        if (colour == CLR_DEFAULT)
            return FALSE;
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, colour);
        SetBkMode(dc, TRANSPARENT);
        // The brush is the value itself here, not DWLP_MSGRESULT.
        return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_GETMINMAXINFO:
        // Never smaller than the template.
        if (self->m_template.sizable && self->m_minTrack.x > 0) {
            reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = self->m_minTrack;
            return self->Result(0);
        }
        return FALSE;
    case WM_SIZE:
        if (wParam != SIZE_MINIMIZED)
            self->OnSize(LOWORD(lParam), HIWORD(lParam));
        return FALSE;
    case WM_PAINT:
        return self->OnPaintIconic() ? self->Result(0) : FALSE;
    case WM_DESTROY:
        // The controls still exist: the handlers' last word.
        if (!self->m_bDestroyed) {
            self->m_bDestroyed = true;
            owner->OnDestroy();
        }
        return FALSE;
    case WM_NCDESTROY:
        SetWindowLongPtrW(hWnd, DWLP_USER, 0);
        self->m_hWnd = nullptr;
        self->m_controls.clear();
        return FALSE;
    default:
        // Posted notifications (WM_ENGINE_*) and any other message of the
        // dialog's own ranges (WM_USER up, registered ones included). The
        // dialog manager's DM_* messages share the first: what the map does
        // not take goes on to it.
        if (message >= WM_USER)
            return owner->OnWndMsg(message, wParam, lParam, &result) ? self->Result(result) : FALSE;
        return FALSE;
    }
}

// --- CDialog, the window-system half ---

CDialog::CDialog(const DlgTemplate& tmpl, CDialog* pParent)
    : m_template(tmpl), m_pImpl(std::make_unique<CDialogImpl>(this, tmpl, pParent))
{
}

CDialog::~CDialog() = default;

INT_PTR CDialog::DoModal()
{
    LoadControlClasses();
    CDialogImpl& impl = *m_pImpl;
    if (impl.m_templateBytes.empty())
        impl.m_templateBytes = BuildTemplate(m_template);
    impl.m_bModal = true;
    const INT_PTR result = DialogBoxIndirectParamW(GetModuleHandleW(nullptr),
                                                   reinterpret_cast<LPCDLGTEMPLATEW>(impl.m_templateBytes.data()),
                                                   impl.OwnerWindow(true), &CDialogImpl::DialogProc, LPARAM(&impl));
    impl.m_bModal = false;
    return result;
}

bool CDialog::Create()
{
    LoadControlClasses();
    CDialogImpl& impl = *m_pImpl;
    if (impl.m_hWnd)
        return true;
    if (impl.m_templateBytes.empty())
        impl.m_templateBytes = BuildTemplate(m_template);
    impl.m_bModal = false;
    HWND h = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                        reinterpret_cast<LPCDLGTEMPLATEW>(impl.m_templateBytes.data()),
                                        impl.OwnerWindow(false), &CDialogImpl::DialogProc, LPARAM(&impl));
    if (!h)
        return false;
    ShowWindow(h, SW_SHOW);
    UpdateWindow(h);
    return true;
}

void CDialog::EndDialog(int nResult)
{
    HWND h = m_pImpl->m_hWnd;
    if (!h)
        return;
    if (m_pImpl->m_bModal)
        ::EndDialog(h, nResult);
    else
        DestroyWindow(h);
}

bool CDialog::HasDlgItem(int nID) const
{
    return m_pImpl->Item(nID) != nullptr;
}

void CDialog::SetDlgItemText(int nID, const CString& text)
{
    if (HWND h = m_pImpl->Item(nID))
        SetWindowTextW(h, ToWide(text).c_str());
}

CString CDialog::GetDlgItemText(int nID) const
{
    HWND h = m_pImpl->Item(nID);
    if (!h)
        return CString();
    // The log's lines end in "\n" as the rich edit's own reading gives them.
    for (const DlgItemTemplate& item : m_template.items)
        if (item.id == nID && item.cls == DlgClass::RichEdit) {
            CRichEditCtrl log;
            log.Attach(const_cast<CDialog*>(this), nID);
            return log.GetText();
        }
    const int n = GetWindowTextLengthW(h);
    std::wstring text(size_t(n > 0 ? n : 0) + 1, L'\0');
    const int got = GetWindowTextW(h, text.data(), int(text.size()));
    text.resize(size_t(got > 0 ? got : 0));
    return FromWide(text.c_str());
}

void CDialog::EnableDlgItem(int nID, bool bEnable)
{
    if (HWND h = m_pImpl->Item(nID))
        EnableWindow(h, bEnable ? TRUE : FALSE);
}

bool CDialog::IsDlgItemEnabled(int nID) const
{
    HWND h = m_pImpl->Item(nID);
    return h && IsWindowEnabled(h);
}

void CDialog::InvalidateDlgItem(int nID)
{
    if (HWND h = m_pImpl->Item(nID))
        InvalidateRect(h, nullptr, TRUE);
}

void CDialog::AppendSystemMenu(UINT nID, const CString& text)
{
    if (!m_pImpl->m_hWnd)
        return;
    HMENU menu = GetSystemMenu(m_pImpl->m_hWnd, FALSE);
    if (!menu)
        return;
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, nID, ToWide(text).c_str());
}

void CDialog::SetMainFrameIcon()
{
    CDialogImpl& impl = *m_pImpl;
    if (!impl.m_hWnd)
        return;
    impl.EnsureIcons();
    SendMessageW(impl.m_hWnd, WM_SETICON, ICON_BIG, LPARAM(impl.m_hIconBig));
    SendMessageW(impl.m_hWnd, WM_SETICON, ICON_SMALL, LPARAM(impl.m_hIconSmall));
}

bool CDialog::IsIconic() const
{
    return m_pImpl->m_hWnd && ::IsIconic(m_pImpl->m_hWnd);
}

void CDialog::SetTimer(UINT_PTR nIDEvent, UINT nElapse)
{
    if (m_pImpl->m_hWnd)
        ::SetTimer(m_pImpl->m_hWnd, nIDEvent, nElapse, nullptr);
}

void CDialog::KillTimer(UINT_PTR nIDEvent)
{
    if (m_pImpl->m_hWnd)
        ::KillTimer(m_pImpl->m_hWnd, nIDEvent);
}

DialogHandle CDialog::GetSafeHwnd() const
{
    return m_pImpl->m_hWnd;
}

bool PostDialogMessage(DialogHandle hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return hWnd && PostMessageW(static_cast<HWND>(hWnd), message, wParam, lParam);
}

// --- access for the program's pictures and for tests ---

HWND Win32Window(const CDialog& dlg)
{
    return dlg.Impl()->m_hWnd;
}

HWND Win32Control(const CDialog& dlg, int nID)
{
    return dlg.Impl()->Item(nID);
}
