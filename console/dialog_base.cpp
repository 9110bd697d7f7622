// SPDX-License-Identifier: MIT
// The half of CDialog that is the same on every window system: data
// exchange, the message map and the default handlers. The other half (the
// constructor, the windows, the controls) is in the backend's file.
#include "dialog_base.h"

#include "data_exchange.h"

bool CDialog::UpdateData(bool bSaveAndValidate)
{
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return true;
}

void CDialog::DoDataExchange(CDataExchange*) {}

bool CDialog::OnInitDialog()
{
    UpdateData(false);
    return true;
}

bool CDialog::RunInitDialog()
{
    if (m_bInitDone)
        return false;
    m_bInitDone = true;
    return OnInitDialog();
}

void CDialog::OnOK()
{
    if (UpdateData(true))
        EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

void CDialog::OnClose()
{
    OnCancel();
}

void CDialog::OnSysCommand(UINT, LPARAM) {}

COLORREF CDialog::OnCtlColor(int)
{
    return CLR_DEFAULT;
}

void CDialog::OnTimer(UINT_PTR) {}

void CDialog::OnDestroy() {}

const AFX_MSGMAP* CDialog::GetThisMessageMap()
{
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, nullptr, nullptr}};
    static const AFX_MSGMAP messageMap = {nullptr, entries};
    return &messageMap;
}

const AFX_MSGMAP* CDialog::GetMessageMap() const
{
    return GetThisMessageMap();
}

bool CDialog::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    LRESULT dummy = 0;
    LRESULT& result = pResult ? *pResult : dummy;
    result = 0;
    const int id = int(LOWORD(wParam));
    const UINT code = HIWORD(wParam);
    // The derived class's entries first, then its bases'.
    for (const AFX_MSGMAP* map = GetMessageMap(); map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->nMessage; ++e) {
            if (e->nMessage != message)
                continue;
            if (message == WM_COMMAND) {
                if (e->nID == id && e->nCode == code && e->pfn) {
                    (this->*e->pfn)();
                    return true;
                }
            } else if (e->pfnL) {
                result = (this->*e->pfnL)(wParam, lParam);
                return true;
            }
        }
    }
    switch (message) {
    case WM_COMMAND:
        if (code == BN_CLICKED && id == IDOK) {
            OnOK();
            return true;
        }
        if (code == BN_CLICKED && id == IDCANCEL) {
            OnCancel();
            return true;
        }
        return false;
    case WM_SYSCOMMAND:
        OnSysCommand(UINT(wParam), lParam);
        return true;
    case WM_TIMER:
        OnTimer(UINT_PTR(wParam));
        return true;
    case WM_CLOSE:
        OnClose();
        return true;
    default:
        return false;
    }
}
