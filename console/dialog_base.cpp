// SPDX-License-Identifier: MIT
#include "dialog_base.h"

#include "data_exchange.h"
#include "dialog_controls.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QTextEdit>

CDialog::CDialog(const DlgTemplate& tmpl, QWidget* parent) : QDialog(parent), m_template(tmpl)
{
    // A captioned, framed dialog with a window menu and a close box, without
    // minimise or maximise boxes.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QString::fromUtf8(tmpl.caption));
    setFont(DialogFont(tmpl));
    m_units = BaseUnitsOf(font());
    const QRect client = DlgToPixels(QRect(0, 0, tmpl.cx, tmpl.cy), m_units);
    m_baseSize = client.size();
    if (tmpl.sizable) {
        setMinimumSize(m_baseSize);
        resize(m_baseSize);
    } else {
        setFixedSize(m_baseSize);
    }

    // Created in template order: that is also the focus (tab) order.
    for (const DlgItemTemplate& item : tmpl.items) {
        QWidget* w = CreateControl(item);
        m_controls.push_back(w);
        m_baseRects.push_back(w->geometry());
        if (item.id != -1)
            m_items[item.id] = w;
    }
}

CDialog::~CDialog() = default;

QWidget* CDialog::CreateControl(const DlgItemTemplate& item)
{
    const QString text = QString::fromUtf8(item.text);
    QRect r = DlgToPixels(QRect(item.x, item.y, item.cx, item.cy), m_units);
    QWidget* w = nullptr;
    switch (item.cls) {
    case DlgClass::GroupBox:
        w = new QGroupBox(text, this);
        break;
    case DlgClass::ComboBox: {
        auto* c = new DropDownComboBox(this);
        c->setEditable(false);
        // The template's height is that of the dropped-down list; the
        // closed box is one text line high.
        const int boxHeight = m_units.cy + 8;
        const int itemHeight = m_units.cy + 2;
        c->setMaxVisibleItems(qMax(1, (r.height() - boxHeight) / itemHeight));
        r.setHeight(boxHeight);
        w = c;
        break;
    }
    case DlgClass::PushButton: {
        auto* b = new QPushButton(text, this);
        b->setAutoDefault(true);
        if (item.style & DS_DEFPUSH)
            b->setDefault(true);
        w = b;
        break;
    }
    case DlgClass::Static:
    case DlgClass::StaticIcon: {
        auto* l = (item.style & DS_PATH_ELLIPSIS) ? new PathLabel(text, this) : new QLabel(text, this);
        l->setTextFormat(Qt::PlainText);
        if (item.style & DS_CENTER_TEXT)
            l->setAlignment(Qt::AlignCenter);
        else
            l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        if (item.style & DS_SUNKEN)
            l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        else if (item.style & DS_BORDER)
            l->setFrameStyle(QFrame::Box | QFrame::Plain);
        w = l;
        break;
    }
    case DlgClass::RichEdit: {
        auto* e = new QTextEdit(this);
        e->setAcceptRichText(false);
        e->setTabChangesFocus(true);
        e->setLineWrapMode(QTextEdit::WidgetWidth);
        w = e;
        break;
    }
    case DlgClass::Progress: {
        auto* p = new QProgressBar(this);
        p->setRange(0, 100);
        p->setValue(0);
        p->setTextVisible(false);
        w = p;
        break;
    }
    }
    w->setGeometry(r);
    w->setFocusPolicy((item.style & DS_TABSTOP) ? Qt::StrongFocus : Qt::NoFocus);
    if (item.id != -1)
        w->setObjectName(QString::asprintf("ctl%d", item.id));
    return w;
}

int CDialog::DoModal()
{
    return exec();
}

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

void CDialog::resizeEvent(QResizeEvent* e)
{
    const int dx = qMax(0, width() - m_baseSize.width());
    const int dy = qMax(0, height() - m_baseSize.height());
    for (size_t i = 0; i < m_controls.size(); ++i) {
        const unsigned style = m_template.items[i].style;
        QRect r = m_baseRects[i];
        if (style & DS_MOVE_X)
            r.translate(dx, 0);
        if (style & DS_SIZE_X)
            r.setWidth(r.width() + dx);
        if (style & DS_SIZE_Y)
            r.setHeight(r.height() + dy);
        m_controls[i]->setGeometry(r);
    }
    QDialog::resizeEvent(e);
}

void CDialog::showEvent(QShowEvent* e)
{
    if (!m_bInitDone) {
        m_bInitDone = true;
        if (OnInitDialog()) {
            // The focus goes to the first tab stop.
            for (QWidget* w : m_controls)
                if (w->focusPolicy() != Qt::NoFocus && w->isEnabled()) {
                    w->setFocus(Qt::OtherFocusReason);
                    break;
                }
        }
    }
    QDialog::showEvent(e);
}

QWidget* CDialog::GetDlgItem(int id) const
{
    auto it = m_items.find(id);
    return it == m_items.end() ? nullptr : it->second;
}

void CDialog::SetDlgItemText(int id, const QString& text)
{
    QWidget* w = GetDlgItem(id);
    if (auto* p = qobject_cast<PathLabel*>(w))
        p->SetPathText(text);
    else if (auto* l = qobject_cast<QLabel*>(w))
        l->setText(text);
    else if (auto* b = qobject_cast<QAbstractButton*>(w))
        b->setText(text);
    else if (auto* e = qobject_cast<QLineEdit*>(w))
        e->setText(text);
    else if (auto* t = qobject_cast<QTextEdit*>(w))
        t->setPlainText(text);
}

QString CDialog::GetDlgItemText(int id) const
{
    QWidget* w = GetDlgItem(id);
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        return b->text();
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return e->text();
    if (auto* t = qobject_cast<QTextEdit*>(w))
        return t->toPlainText();
    return QString();
}

void CDialog::EnableDlgItem(int id, bool enable)
{
    if (QWidget* w = GetDlgItem(id))
        w->setEnabled(enable);
}
