// SPDX-License-Identifier: MIT
#include "qt_controls.h"

#include <QFontMetrics>
#include <QMenu>
#include <QPainter>
#include <QStyle>

void DropDownComboBox::showPopup()
{
    emit droppingDown();
    QComboBox::showPopup();
}

MenuPushButton::MenuPushButton(const QString& text, QWidget* parent)
    : QPushButton(text, parent), m_menu(new QMenu(this))
{
    setMenu(m_menu);
    connect(m_menu, &QMenu::aboutToShow, this, &MenuPushButton::droppingDown);
    connect(m_menu, &QMenu::triggered, this, [this](QAction* action) {
        m_chosen = action->data().toInt();
        emit chosen();
    });
}

void MenuPushButton::SetItems(const std::vector<MenuItem>& items)
{
    m_menu->clear();
    for (size_t i = 0; i < items.size(); ++i) {
        QAction* a = m_menu->addAction(QString::fromUtf8(items[i].text.GetString(), items[i].text.GetLength()));
        a->setCheckable(true);
        a->setChecked(items[i].checked);
        a->setEnabled(items[i].enabled);
        a->setData(int(i));
    }
}

void PathLabel::SetPathText(const QString& text)
{
    setText(text);
    setToolTip(text);
}

QRect PathLabel::TextRect() const
{
    const int m = margin();
    return contentsRect().adjusted(m, m, -m, -m);
}

QString PathLabel::ShownText() const
{
    return ElidePath(text(), fontMetrics(), TextRect().width());
}

void PathLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    drawFrame(&painter);
    style()->drawItemText(&painter, TextRect(), int(alignment()), palette(), isEnabled(), ShownText(),
                          foregroundRole());
}

QString ElidePath(const QString& text, const QFontMetrics& fm, int width)
{
    if (fm.horizontalAdvance(text) <= width)
        return text;
    const QString ellipsis = QStringLiteral("…");
    const int slash = qMax(text.lastIndexOf(QLatin1Char('/')), text.lastIndexOf(QLatin1Char('\\')));
    if (slash > 0) {
        const QString tail = text.mid(slash);
        if (fm.horizontalAdvance(ellipsis + tail) <= width) {
            // The longest start that still fits in front of "…" and the tail.
            int lo = 0, hi = slash;
            while (lo < hi) {
                const int mid = (lo + hi + 1) / 2;
                if (fm.horizontalAdvance(text.left(mid) + ellipsis + tail) <= width)
                    lo = mid;
                else
                    hi = mid - 1;
            }
            if (lo > 0 && text.at(lo - 1).isHighSurrogate())
                --lo;
            return text.left(lo) + ellipsis + tail;
        }
    }
    // Even the file name alone is too wide: keep both of its ends.
    return fm.elidedText(text, Qt::ElideMiddle, width);
}
