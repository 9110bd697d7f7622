// SPDX-License-Identifier: MIT
// CDialog: a modal or modeless dialog built from a DlgTemplate, with data
// exchange (UpdateData/DoDataExchange), control access by id, a message map
// for control notifications and posted messages, timers, and OnInitDialog
// run once before the dialog is first shown.
//
// This class is the whole of what the handlers see of a window system. Its
// window-system half lives in one file per backend (qt/dialog_qt.cpp,
// win32/dialog_win32.cpp), behind CDialogImpl; the message map and the data
// exchange are common to both (dialog_base.cpp).
#pragma once

#include "cstring.h"
#include "dialog_template.h"
#include "win_types.h"

#include <memory>

class CDataExchange;
class CDialog;
class CDialogImpl;

// --- message map ---------------------------------------------------------
using AFX_PMSG = void (CDialog::*)();
using AFX_PMSGL = LRESULT (CDialog::*)(WPARAM, LPARAM);

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;   // WM_COMMAND, or a message posted to the dialog; 0 ends the map
    UINT nCode;      // for WM_COMMAND: the notification (BN_CLICKED, CBN_DROPDOWN)
    int nID;         // for WM_COMMAND: the control
    AFX_PMSG pfn;    // WM_COMMAND handler
    AFX_PMSGL pfnL;  // posted-message handler
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

// clang-format off
#define DECLARE_MESSAGE_MAP()                        \
protected:                                           \
    static const AFX_MSGMAP* GetThisMessageMap();    \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                              \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); }      \
    const AFX_MSGMAP* theClass::GetThisMessageMap()                                         \
    {                                                                                       \
        using TheBaseClass = baseClass;                                                     \
        static const AFX_MSGMAP_ENTRY entries[] = {
#define ON_BN_CLICKED(id, fn) {WM_COMMAND, BN_CLICKED, int(id), static_cast<AFX_PMSG>(fn), nullptr},
#define ON_CBN_DROPDOWN(id, fn) {WM_COMMAND, CBN_DROPDOWN, int(id), static_cast<AFX_PMSG>(fn), nullptr},
#define ON_MESSAGE(message, fn) {UINT(message), 0, 0, nullptr, static_cast<AFX_PMSGL>(fn)},
#define END_MESSAGE_MAP()                                                 \
    {0, 0, 0, nullptr, nullptr}                                           \
    }                                                                     \
    ;                                                                     \
    static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, entries}; \
    return &messageMap;                                                   \
    }
// clang-format on

// The window a message is posted to. On Windows the dialog's HWND; under Qt
// its top-level widget.
using DialogHandle = void*;

// Posts a message to a dialog's queue; any thread may call it. It is
// handled on the user-interface thread, in posting order, by the dialog's
// message map. False when it could not be posted.
bool PostDialogMessage(DialogHandle hWnd, UINT message, WPARAM wParam, LPARAM lParam);

class CDialog {
public:
    explicit CDialog(const DlgTemplate& tmpl, CDialog* pParent = nullptr);
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog modally; the value given to EndDialog.
    INT_PTR DoModal();
    // Shows the dialog without a modal loop of its own (the caller's event
    // loop runs it); OnInitDialog has run when this returns.
    bool Create();
    void EndDialog(int nResult);
    // TRUE: controls into members; FALSE: members onto the controls.
    bool UpdateData(bool bSaveAndValidate = true);

    void SetDlgItemText(int nID, const CString& text);
    CString GetDlgItemText(int nID) const;
    void EnableDlgItem(int nID, bool bEnable);
    bool IsDlgItemEnabled(int nID) const;
    // Redraws a control, so that OnCtlColor is asked again.
    void InvalidateDlgItem(int nID);
    bool HasDlgItem(int nID) const;

    // The window menu: a separator, then an entry that sends nID to
    // OnSysCommand. Where the window manager owns that menu (Linux), the
    // entry is offered on the dialog's context menu and on F1.
    void AppendSystemMenu(UINT nID, const CString& text);
    // The dialog's icon (big and small), drawn from IDR_MAINFRAME.
    void SetMainFrameIcon();
    bool IsIconic() const;

    // WM_TIMER every nElapse milliseconds, to OnTimer, until KillTimer.
    void SetTimer(UINT_PTR nIDEvent, UINT nElapse);
    void KillTimer(UINT_PTR nIDEvent);

    DialogHandle GetSafeHwnd() const;
    const DlgTemplate& Template() const { return m_template; }
    CDialogImpl* Impl() const { return m_pImpl.get(); }

    // --- called by the window system's side ---
    // A command from a control (BN_CLICKED, CBN_DROPDOWN; IDOK/IDCANCEL from
    // the keyboard) or a posted message; true when something handled it.
    bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    // Runs OnInitDialog once, then puts the focus on the first tab stop
    // when it returns true.
    bool RunInitDialog();

    virtual void DoDataExchange(CDataExchange* pDX);
    virtual bool OnInitDialog();
    // Enter and Esc, as any dialog's: both end it.
    virtual void OnOK();
    virtual void OnCancel();
    // The close box and the window menu's Close: as Esc.
    virtual void OnClose();
    // Commands of the window menu that are the dialog's own (IDM_ABOUTBOX).
    virtual void OnSysCommand(UINT nID, LPARAM lParam);
    // The text colour of a static control, or CLR_DEFAULT for the default.
    virtual COLORREF OnCtlColor(int nID);
    virtual void OnTimer(UINT_PTR nIDEvent);
    // The dialog is ending (its controls still exist).
    virtual void OnDestroy();

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;

private:
    const DlgTemplate& m_template;
    std::unique_ptr<CDialogImpl> m_pImpl;
    bool m_bInitDone = false;
};
