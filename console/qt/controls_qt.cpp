// SPDX-License-Identifier: MIT
// The Qt side of the controls (combo box, progress bar, rich-edit log) and
// the fonts the templates and the log are drawn in.
#include "dialog_base.h"
#include "dialog_controls.h"
#include "menu_button.h"
#include "qt_backend.h"
#include "qt_controls.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QProgressBar>
#include <QScrollBar>
#include <QStringList>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextEdit>

#include <cmath>

namespace {

template <typename W>
W* Widget(const CDlgItem& item)
{
    return item.Dialog() ? qobject_cast<W*>(QtControl(*item.Dialog(), item.GetDlgCtrlID())) : nullptr;
}

}  // namespace

int CComboBox::AddString(const CString& text)
{
    auto* c = Widget<QComboBox>(*this);
    if (!c)
        return -1;
    c->addItem(ToQString(text));
    return c->count() - 1;
}

void CComboBox::ResetContent()
{
    if (auto* c = Widget<QComboBox>(*this))
        c->clear();
}

int CComboBox::GetCount() const
{
    auto* c = Widget<QComboBox>(*this);
    return c ? c->count() : 0;
}

int CComboBox::GetCurSel() const
{
    auto* c = Widget<QComboBox>(*this);
    return c ? c->currentIndex() : -1;
}

void CComboBox::SetCurSel(int index)
{
    if (auto* c = Widget<QComboBox>(*this))
        c->setCurrentIndex(index);
}

CString CComboBox::GetLBText(int index) const
{
    auto* c = Widget<QComboBox>(*this);
    return c ? FromQString(c->itemText(index)) : CString();
}

void CMenuButton::SetItems(const std::vector<MenuItem>& items)
{
    if (auto* b = Widget<MenuPushButton>(*this))
        b->SetItems(items);
}

int CMenuButton::GetChosen() const
{
    auto* b = Widget<MenuPushButton>(*this);
    return b ? b->Chosen() : -1;
}

void CProgressCtrl::SetRange(int lower, int upper)
{
    if (auto* p = Widget<QProgressBar>(*this))
        p->setRange(lower, upper);
}

int CProgressCtrl::SetPos(int pos)
{
    auto* p = Widget<QProgressBar>(*this);
    if (!p)
        return 0;
    const int previous = p->value();
    p->setValue(pos);
    return previous;
}

int CProgressCtrl::GetPos() const
{
    auto* p = Widget<QProgressBar>(*this);
    return p ? p->value() : 0;
}

void CRichEditCtrl::AppendColoredText(const CString& text, COLORREF color)
{
    auto* log = Widget<QTextEdit>(*this);
    if (!log)
        return;
    // "\r\n" (and a lone "\r") is one line break in the view.
    QString line = ToQString(text);
    line.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    line.replace(QLatin1Char('\r'), QLatin1Char('\n'));

    QTextCursor cursor(log->document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    format.setForeground(QColor(int(GetRValue(color)), int(GetGValue(color)), int(GetBValue(color))));
    cursor.insertText(line, format);

    log->setTextCursor(cursor);
    log->verticalScrollBar()->setValue(log->verticalScrollBar()->maximum());
}

void CRichEditCtrl::SetReadOnly(bool readOnly)
{
    auto* log = Widget<QTextEdit>(*this);
    if (!log)
        return;
    log->setReadOnly(readOnly);
    if (readOnly)
        log->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

void CRichEditCtrl::SetLogFont(int pointSize)
{
    auto* log = Widget<QTextEdit>(*this);
    if (!log)
        return;
    const QFont font = LogFont(pointSize);
    log->setFont(font);
    log->document()->setDefaultFont(font);
    QTextBlockFormat block;
    block.setLineHeight(LogLinePadding(font), QTextBlockFormat::LineDistanceHeight);
    QTextCursor(log->document()).setBlockFormat(block);
}

CString CRichEditCtrl::GetText() const
{
    auto* log = Widget<QTextEdit>(*this);
    return log ? FromQString(log->toPlainText()) : CString();
}

// --- fonts ---

namespace {

int ScaleRounded(int a, int b, int c)
{
    long long p = (long long)a * b;
    return int(p >= 0 ? (p + c / 2) / c : (p - c / 2) / c);
}

}  // namespace

QFont DialogFont(const DlgTemplate& t)
{
    const QString face = QString::fromUtf8(t.face);
    // The face names Windows knows for this font, then the Song-style faces
    // Linux ships; whichever fontconfig has installed wins.
    static const QStringList songFaces = {
        QStringLiteral("SimSun"),
        QStringLiteral("NSimSun"),
        QStringLiteral("AR PL UMing CN"),
        QStringLiteral("AR PL SungtiL GB"),
        QStringLiteral("Noto Serif CJK SC"),
        QStringLiteral("Source Han Serif SC"),
    };
    if (QFont::substitutes(face).isEmpty())
        QFont::insertSubstitutions(face, songFaces);
    QFont font(face);
    QStringList families = {face};
    families += songFaces;
    font.setFamilies(families);
    font.setPointSize(t.pointSize);
    font.setStyleHint(QFont::Serif);
    return font;
}

DlgBaseUnits BaseUnitsOf(const QFont& font)
{
    QFontMetrics fm(font);
    const int width = fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    DlgBaseUnits u;
    u.cx = (width / 26 + 1) / 2;
    u.cy = fm.height();
    if (u.cx < 1)
        u.cx = 1;
    if (u.cy < 1)
        u.cy = 1;
    return u;
}

QRect DlgToPixels(const QRect& dlu, DlgBaseUnits u)
{
    return QRect(ScaleRounded(dlu.x(), u.cx, 4), ScaleRounded(dlu.y(), u.cy, 8), ScaleRounded(dlu.width(), u.cx, 4),
                 ScaleRounded(dlu.height(), u.cy, 8));
}

QFont LogFont(int pointSize)
{
    // Latin in a face made for the screen (the Song faces draw small Latin
    // letters thin and their underscores below the line), Chinese in the
    // Song-style faces; Qt takes each character from the first face that
    // has it.
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setFamilies({QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Consolas"),
                      QStringLiteral("Liberation Mono"), QStringLiteral("Courier New"), QString::fromUtf8("宋体"),
                      QStringLiteral("SimSun"), QStringLiteral("NSimSun"), QStringLiteral("AR PL UMing CN"),
                      QStringLiteral("AR PL SungtiL GB"), QStringLiteral("Noto Serif CJK SC"),
                      QStringLiteral("Source Han Serif SC")});
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSize(pointSize);
    return font;
}

// A line is as tall as the largest ascent plus the largest descent of the
// faces it uses; some faces draw glyphs beyond those (UMing's underscore and
// its Chinese characters hang below its descent), and what hangs out of a
// line is wiped when the line below it is drawn. Every log line carries a
// time stamp, so the Latin face's metrics always count.
qreal LogLinePadding(const QFont& font)
{
    static const QString probe = QString::fromUtf8("_gjpqy|()[]{}QÅ数据下载宋体串口");
    const QFontMetricsF latin(font);
    qreal below = 0, above = 0;
    const QStringList faces = font.families();
    for (const QString& face : faces) {
        QFont f(font);
        f.setFamilies({face});
        const QFontMetricsF fm(f);
        for (const QChar c : probe) {
            if (!fm.inFont(c))
                continue;
            const QRectF ink = fm.boundingRect(c);
            below = qMax(below, ink.bottom() - latin.descent());
            above = qMax(above, -ink.top() - latin.ascent());
        }
    }
    // What reaches above a line is covered by the padding of the one before.
    return std::ceil(below + above) + 1;
}
