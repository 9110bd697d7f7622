// SPDX-License-Identifier: MIT
#include "data_exchange.h"

#include "dialog_base.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTextEdit>

void DDX_Control(CDataExchange* pDX, int id, QProgressBar*& control)
{
    if (!control)
        control = qobject_cast<QProgressBar*>(pDX->m_pDlgWnd->GetDlgItem(id));
}

void DDX_Control(CDataExchange* pDX, int id, QTextEdit*& control)
{
    if (!control)
        control = qobject_cast<QTextEdit*>(pDX->m_pDlgWnd->GetDlgItem(id));
}

void DDX_Text(CDataExchange* pDX, int id, QString& value)
{
    if (pDX->m_bSaveAndValidate)
        value = pDX->m_pDlgWnd->GetDlgItemText(id);
    else
        pDX->m_pDlgWnd->SetDlgItemText(id, value);
}

void DDX_CBIndex(CDataExchange* pDX, int id, int& index)
{
    auto* combo = qobject_cast<QComboBox*>(pDX->m_pDlgWnd->GetDlgItem(id));
    if (!combo)
        return;
    if (pDX->m_bSaveAndValidate)
        index = combo->currentIndex();
    else
        combo->setCurrentIndex(index);
}
