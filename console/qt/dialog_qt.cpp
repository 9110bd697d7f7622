// SPDX-License-Identifier: MIT
// The Qt side of the dialog layer: CDialog's windows and controls as
// widgets, posted messages as events, timers as QTimers, and the keys and
// the close box turned into the commands a Windows dialog would get.
#include "dialog_base.h"

#include "app_icon_qt.h"
#include "dialog_controls.h"
#include "qt_backend.h"
#include "qt_controls.h"
#include "qt_tile_grid.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTextEdit>
#include <QTimer>

#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace {

const QEvent::Type kDialogMessageEvent = QEvent::Type(QEvent::registerEventType());

// A message posted to a dialog, carried as an event.
class DialogMessageEvent : public QEvent {
public:
    DialogMessageEvent(UINT message, WPARAM wParam, LPARAM lParam)
        : QEvent(kDialogMessageEvent), m_message(message), m_wParam(wParam), m_lParam(lParam)
    {
    }
    UINT m_message;
    WPARAM m_wParam;
    LPARAM m_lParam;
};

}  // namespace

class CDialogImpl : public QDialog {
public:
    CDialogImpl(CDialog* owner, const DlgTemplate& tmpl, QWidget* parent);

    QWidget* Item(int id) const
    {
        auto it = m_items.find(id);
        return it == m_items.end() ? nullptr : it->second;
    }
    void Command(int id, UINT code) { m_owner->OnWndMsg(WM_COMMAND, MAKEWPARAM(unsigned(id), code), 0, nullptr); }
    void EndDialog(int result)
    {
        m_bEnding = true;
        done(result);
    }
    void SetTimer(UINT_PTR id, UINT ms);
    void KillTimer(UINT_PTR id);
    void AppendSystemMenu(UINT id, const QString& text);

    CDialog* m_owner;
    DlgBaseUnits m_units{};
    std::map<int, QWidget*> m_items;
    std::vector<QWidget*> m_controls;
    std::vector<QRect> m_baseRects;  // each control's place at the template's size
    QSize m_baseSize;
    QIcon m_icon;
    std::vector<std::pair<UINT, QString>> m_sysMenu;
    std::map<UINT_PTR, std::unique_ptr<QTimer>> m_timers;
    bool m_bEnding = false;
    bool m_bDestroyed = false;

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

public:
    void done(int r) override;

private:
    QWidget* CreateControl(const DlgItemTemplate& item);
    const DlgTemplate& m_template;
};

CDialogImpl::CDialogImpl(CDialog* owner, const DlgTemplate& tmpl, QWidget* parent)
    : QDialog(parent), m_owner(owner), m_template(tmpl)
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

QWidget* CDialogImpl::CreateControl(const DlgItemTemplate& item)
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
        const int id = item.id;
        connect(c, &DropDownComboBox::droppingDown, this, [this, id] { Command(id, CBN_DROPDOWN); });
        w = c;
        break;
    }
    case DlgClass::PushButton: {
        auto* b = new QPushButton(text, this);
        b->setAutoDefault(true);
        if (item.style & DS_DEFPUSH)
            b->setDefault(true);
        const int id = item.id;
        connect(b, &QPushButton::clicked, this, [this, id] { Command(id, BN_CLICKED); });
        w = b;
        break;
    }
    case DlgClass::StaticIcon: {
        // IDR_MAINFRAME at its own 32x32 size.
        auto* l = new QLabel(this);
        l->setPixmap(QPixmap::fromImage(MainFrameImage(32)));
        r.setSize(QSize(32, 32));
        w = l;
        break;
    }
    case DlgClass::Static: {
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
        // Its text colour is asked of the dialog each time it is drawn.
        if (item.id != -1)
            l->installEventFilter(this);
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
    case DlgClass::MenuButton: {
        auto* b = new MenuPushButton(text, this);
        const int id = item.id;
        connect(b, &MenuPushButton::droppingDown, this, [this, id] { Command(id, MBN_DROPDOWN); });
        connect(b, &MenuPushButton::chosen, this, [this, id] { Command(id, MBN_CHOSEN); });
        w = b;
        break;
    }
    case DlgClass::TileGrid: {
        auto* g = new TileGridWidget(this);
        const int id = item.id;
        connect(g, &TileGridWidget::selectionChanged, this, [this, id] { Command(id, TGN_SELCHANGE); });
        w = g;
        break;
    }
    }
    w->setGeometry(r);
    w->setFocusPolicy((item.style & DS_TABSTOP) ? Qt::StrongFocus : Qt::NoFocus);
    if (item.id != -1)
        w->setObjectName(QString::asprintf("ctl%d", item.id));
    return w;
}

void CDialogImpl::SetTimer(UINT_PTR id, UINT ms)
{
    auto& timer = m_timers[id];
    if (!timer) {
        timer = std::make_unique<QTimer>();
        connect(timer.get(), &QTimer::timeout, this,
                [this, id] { m_owner->OnWndMsg(WM_TIMER, WPARAM(id), 0, nullptr); });
    }
    timer->start(int(ms));
}

void CDialogImpl::KillTimer(UINT_PTR id)
{
    auto it = m_timers.find(id);
    if (it != m_timers.end())
        it->second->stop();
}

void CDialogImpl::AppendSystemMenu(UINT id, const QString& text)
{
    // On Linux the window manager owns the window menu: the entry goes on
    // the dialog's context menu, and the first one on F1.
    if (m_sysMenu.empty()) {
        auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
        connect(help, &QShortcut::activated, this,
                [this] { m_owner->OnWndMsg(WM_SYSCOMMAND, WPARAM(m_sysMenu.front().first), 0, nullptr); });
    }
    m_sysMenu.emplace_back(id, text);
}

bool CDialogImpl::event(QEvent* e)
{
    if (e->type() == kDialogMessageEvent) {
        // As a destroyed window's queue: what arrives after the dialog has
        // ended is dropped.
        auto* m = static_cast<DialogMessageEvent*>(e);
        if (!m_bDestroyed)
            m_owner->OnWndMsg(m->m_message, m->m_wParam, m->m_lParam, nullptr);
        return true;
    }
    return QDialog::event(e);
}

bool CDialogImpl::eventFilter(QObject* watched, QEvent* e)
{
    if (e->type() == QEvent::Paint) {
        auto* w = qobject_cast<QWidget*>(watched);
        const QString name = w ? w->objectName() : QString();
        if (name.startsWith(QLatin1String("ctl"))) {
            const COLORREF c = m_owner->OnCtlColor(name.mid(3).toInt());
            if (c != CLR_DEFAULT) {
                const QColor colour(int(GetRValue(c)), int(GetGValue(c)), int(GetBValue(c)));
                if (w->palette().color(QPalette::WindowText) != colour) {
                    QPalette pal = w->palette();
                    pal.setColor(QPalette::WindowText, colour);
                    w->setPalette(pal);
                }
            }
        }
    }
    return QDialog::eventFilter(watched, e);
}

void CDialogImpl::showEvent(QShowEvent* e)
{
    if (m_owner->RunInitDialog()) {
        // The focus goes to the first tab stop.
        for (QWidget* w : m_controls)
            if (w->focusPolicy() != Qt::NoFocus && w->isEnabled()) {
                w->setFocus(Qt::OtherFocusReason);
                break;
            }
    }
    QDialog::showEvent(e);
}

void CDialogImpl::resizeEvent(QResizeEvent* e)
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
        if (style & DS_MOVE_Y)
            r.translate(0, dy);
        m_controls[i]->setGeometry(r);
    }
    QDialog::resizeEvent(e);
}

// The keys of a Windows dialog: Enter presses the push button that has the
// focus, and is IDOK anywhere else; Esc is IDCANCEL. What the dialog does
// with them is its OnOK and OnCancel.
void CDialogImpl::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        if (auto* b = qobject_cast<QPushButton*>(focusWidget()); b && b->isEnabled())
            b->click();
        else
            Command(IDOK, BN_CLICKED);
        e->accept();
        return;
    }
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
        Command(IDCANCEL, BN_CLICKED);
        e->accept();
        return;
    }
    QDialog::keyPressEvent(e);
}

// The close box and the window menu's Close: WM_CLOSE, whose handler ends
// the dialog or keeps it.
void CDialogImpl::closeEvent(QCloseEvent* e)
{
    if (m_bEnding || !isVisible()) {
        e->accept();
        return;
    }
    e->ignore();
    m_owner->OnWndMsg(WM_CLOSE, 0, 0, nullptr);
}

void CDialogImpl::contextMenuEvent(QContextMenuEvent* e)
{
    if (m_sysMenu.empty())
        return;
    QMenu menu(this);
    std::vector<std::pair<QAction*, UINT>> actions;
    for (const auto& [id, text] : m_sysMenu)
        actions.emplace_back(menu.addAction(text), id);
    QAction* chosen = menu.exec(e->globalPos());
    for (const auto& [action, id] : actions)
        if (action == chosen)
            m_owner->OnWndMsg(WM_SYSCOMMAND, WPARAM(id), 0, nullptr);
}

// A minimised dialog paints its icon centred.
void CDialogImpl::paintEvent(QPaintEvent* e)
{
    if (isMinimized() && !m_icon.isNull()) {
        QPainter dc(this);
        const int cxIcon = 32, cyIcon = 32;
        const int x = (width() - cxIcon + 1) / 2;
        const int y = (height() - cyIcon + 1) / 2;
        dc.drawPixmap(x, y, m_icon.pixmap(cxIcon, cyIcon));
        return;
    }
    QDialog::paintEvent(e);
}

void CDialogImpl::done(int r)
{
    // The handlers' last word while the controls still exist.
    if (!m_bDestroyed) {
        m_bDestroyed = true;
        m_owner->OnDestroy();
    }
    m_bEnding = true;
    QDialog::done(r);
}

// --- CDialog, the window-system half ---

// The window is not made a child of the parent's: each CDialog owns its own
// window, and a modal dialog blocks the whole application anyway.
CDialog::CDialog(const DlgTemplate& tmpl, CDialog*)
    : m_template(tmpl), m_pImpl(std::make_unique<CDialogImpl>(this, tmpl, nullptr))
{
}

CDialog::~CDialog() = default;

INT_PTR CDialog::DoModal()
{
    m_pImpl->m_bEnding = false;
    m_pImpl->m_bDestroyed = false;
    return m_pImpl->exec();
}

bool CDialog::Create()
{
    m_pImpl->show();
    return true;
}

void CDialog::EndDialog(int nResult)
{
    m_pImpl->EndDialog(nResult);
}

bool CDialog::HasDlgItem(int nID) const
{
    return m_pImpl->Item(nID) != nullptr;
}

void CDialog::SetDlgItemText(int nID, const CString& text)
{
    QWidget* w = m_pImpl->Item(nID);
    const QString t = ToQString(text);
    if (auto* p = qobject_cast<PathLabel*>(w))
        p->SetPathText(t);
    else if (auto* l = qobject_cast<QLabel*>(w))
        l->setText(t);
    else if (auto* b = qobject_cast<QAbstractButton*>(w))
        b->setText(t);
    else if (auto* e = qobject_cast<QTextEdit*>(w))
        e->setPlainText(t);
}

CString CDialog::GetDlgItemText(int nID) const
{
    QWidget* w = m_pImpl->Item(nID);
    if (auto* l = qobject_cast<QLabel*>(w))
        return FromQString(l->text());
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        return FromQString(b->text());
    if (auto* t = qobject_cast<QTextEdit*>(w))
        return FromQString(t->toPlainText());
    return CString();
}

void CDialog::EnableDlgItem(int nID, bool bEnable)
{
    if (QWidget* w = m_pImpl->Item(nID))
        w->setEnabled(bEnable);
}

bool CDialog::IsDlgItemEnabled(int nID) const
{
    QWidget* w = m_pImpl->Item(nID);
    return w && w->isEnabled();
}

void CDialog::InvalidateDlgItem(int nID)
{
    if (QWidget* w = m_pImpl->Item(nID))
        w->update();
}

void CDialog::AppendSystemMenu(UINT nID, const CString& text)
{
    m_pImpl->AppendSystemMenu(nID, ToQString(text));
}

void CDialog::SetMainFrameIcon()
{
    m_pImpl->m_icon = LoadMainFrameIcon();
    m_pImpl->setWindowIcon(m_pImpl->m_icon);
}

bool CDialog::IsIconic() const
{
    return m_pImpl->isMinimized();
}

void CDialog::SetTimer(UINT_PTR nIDEvent, UINT nElapse)
{
    m_pImpl->SetTimer(nIDEvent, nElapse);
}

void CDialog::KillTimer(UINT_PTR nIDEvent)
{
    m_pImpl->KillTimer(nIDEvent);
}

DialogHandle CDialog::GetSafeHwnd() const
{
    return static_cast<QObject*>(m_pImpl.get());
}

bool PostDialogMessage(DialogHandle hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!hWnd)
        return false;
    QCoreApplication::postEvent(static_cast<QObject*>(hWnd), new DialogMessageEvent(message, wParam, lParam));
    return true;
}

// --- access for the program's pictures and for tests ---

QDialog* QtWindow(const CDialog& dlg)
{
    return dlg.Impl();
}

QWidget* QtControl(const CDialog& dlg, int nID)
{
    return dlg.Impl()->Item(nID);
}

const std::vector<QWidget*>& QtControls(const CDialog& dlg)
{
    return dlg.Impl()->m_controls;
}

DlgBaseUnits QtBaseUnits(const CDialog& dlg)
{
    return dlg.Impl()->m_units;
}
