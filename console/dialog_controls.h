// SPDX-License-Identifier: MIT
// The controls the dialogs' members stand for: a combo box, a progress bar
// and the rich-edit log. Each is attached to a dialog's control by id
// (DDX_Control) and forwards to the window system's side.
#pragma once

#include "cstring.h"
#include "win_types.h"

class CDialog;

class CDlgItem {
public:
    bool IsAttached() const { return m_pDlg != nullptr; }
    void Attach(CDialog* pDlg, int nID)
    {
        m_pDlg = pDlg;
        m_nID = nID;
    }
    CDialog* Dialog() const { return m_pDlg; }
    int GetDlgCtrlID() const { return m_nID; }

protected:
    CDialog* m_pDlg = nullptr;
    int m_nID = 0;
};

class CComboBox : public CDlgItem {
public:
    int AddString(const CString& text);  // index of the new item
    void ResetContent();
    int GetCount() const;
    int GetCurSel() const;  // -1: none
    void SetCurSel(int index);
    CString GetLBText(int index) const;
};

class CProgressCtrl : public CDlgItem {
public:
    void SetRange(int lower, int upper);
    int SetPos(int pos);  // the previous position
    int GetPos() const;
};

class CRichEditCtrl : public CDlgItem {
public:
    // Adds text at the end of the log, whatever the operator selected or
    // typed, in this colour, and brings it into view.
    void AppendColoredText(const CString& text, COLORREF color);
    // The operator can select and copy, not type.
    void SetReadOnly(bool readOnly = true);
    // The log's face: a clear Latin face first, a Song-style face for
    // Chinese, at this size.
    void SetLogFont(int pointSize);
    CString GetText() const;
};
