// SPDX-License-Identifier: MIT
// Dialog data exchange between members and controls: texts, combo-box
// indexes and control attachment.
#pragma once

#include "cstring.h"

class CDialog;
class CComboBox;
class CProgressCtrl;
class CRichEditCtrl;

class CDataExchange {
public:
    CDataExchange(CDialog* dlg, bool bSaveAndValidate) : m_pDlgWnd(dlg), m_bSaveAndValidate(bSaveAndValidate) {}
    CDialog* m_pDlgWnd;
    bool m_bSaveAndValidate;  // true: control -> member
};

void DDX_Control(CDataExchange* pDX, int id, CProgressCtrl& control);
void DDX_Control(CDataExchange* pDX, int id, CRichEditCtrl& control);
void DDX_Control(CDataExchange* pDX, int id, CComboBox& control);
void DDX_Text(CDataExchange* pDX, int id, CString& value);
void DDX_CBIndex(CDataExchange* pDX, int id, int& index);
