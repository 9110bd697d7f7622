// SPDX-License-Identifier: MIT
#include "data_exchange.h"

#include "dialog_base.h"
#include "dialog_controls.h"

namespace {

void Attach(CDataExchange* pDX, int id, CDlgItem& control)
{
    if (!control.IsAttached() && pDX->m_pDlgWnd->HasDlgItem(id))
        control.Attach(pDX->m_pDlgWnd, id);
}

}  // namespace

void DDX_Control(CDataExchange* pDX, int id, CProgressCtrl& control)
{
    Attach(pDX, id, control);
}

void DDX_Control(CDataExchange* pDX, int id, CRichEditCtrl& control)
{
    Attach(pDX, id, control);
}

void DDX_Control(CDataExchange* pDX, int id, CComboBox& control)
{
    Attach(pDX, id, control);
}

void DDX_Text(CDataExchange* pDX, int id, CString& value)
{
    if (pDX->m_bSaveAndValidate)
        value = pDX->m_pDlgWnd->GetDlgItemText(id);
    else
        pDX->m_pDlgWnd->SetDlgItemText(id, value);
}

void DDX_CBIndex(CDataExchange* pDX, int id, int& index)
{
    if (!pDX->m_pDlgWnd->HasDlgItem(id))
        return;
    CComboBox combo;
    combo.Attach(pDX->m_pDlgWnd, id);
    if (pDX->m_bSaveAndValidate)
        index = combo.GetCurSel();
    else
        combo.SetCurSel(index);
}
