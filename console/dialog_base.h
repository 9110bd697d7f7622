// SPDX-License-Identifier: MIT
// CDialog: a QDialog built from a DlgTemplate, with the dialog's data
// exchange (UpdateData/DoDataExchange), control lookup by id, and
// OnInitDialog run once when the dialog is first shown.
#pragma once

#include "dialog_template.h"

#include <QDialog>
#include <QIcon>

#include <map>

class CDataExchange;

class CDialog : public QDialog {
    Q_OBJECT
public:
    explicit CDialog(const DlgTemplate& tmpl, QWidget* parent = nullptr);
    ~CDialog() override;

    // Runs the dialog modally; the result of done().
    int DoModal();
    // TRUE: controls into members; FALSE: members onto the controls.
    bool UpdateData(bool bSaveAndValidate = true);

    QWidget* GetDlgItem(int id) const;
    void SetDlgItemText(int id, const QString& text);
    QString GetDlgItemText(int id) const;
    void EnableDlgItem(int id, bool enable);

    DlgBaseUnits BaseUnits() const { return m_units; }
    const DlgTemplate& Template() const { return m_template; }
    // Controls with the id -1 (labels, group boxes) in template order.
    const std::vector<QWidget*>& Controls() const { return m_controls; }

protected:
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual bool OnInitDialog();
    void showEvent(QShowEvent* e) override;
    // A sizable dialog moves and stretches its controls by their anchors.
    void resizeEvent(QResizeEvent* e) override;

private:
    QWidget* CreateControl(const DlgItemTemplate& item);

    const DlgTemplate& m_template;
    DlgBaseUnits m_units{};
    std::map<int, QWidget*> m_items;
    std::vector<QWidget*> m_controls;
    std::vector<QRect> m_baseRects;  // each control's place at the template's size
    QSize m_baseSize;
    bool m_bInitDone = false;
};
