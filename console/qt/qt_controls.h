// SPDX-License-Identifier: MIT
// The controls the Qt side builds beyond Qt's own: a combo box that tells
// its dialog it is about to drop down (so a list can be brought up to date
// first), a static text that shortens a long path in the middle, keeping
// the file name in view, and a push button with a menu of checkable items
// that is filled as it opens.
#pragma once

#include "menu_button.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include <vector>

class QMenu;

class QFontMetrics;

class DropDownComboBox : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    void showPopup() override;

signals:
    // Before the list opens; the items may be changed here.
    void droppingDown();
};

class MenuPushButton : public QPushButton {
    Q_OBJECT
public:
    MenuPushButton(const QString& text, QWidget* parent);
    void SetItems(const std::vector<MenuItem>& items);
    int Chosen() const { return m_chosen; }
    QMenu* Menu() const { return m_menu; }

signals:
    // Before the menu opens; SetItems may be called here.
    void droppingDown();
    // An item was chosen (Chosen() says which); the menu has closed.
    void chosen();

private:
    QMenu* m_menu;
    int m_chosen = -1;
};

class PathLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
    // The whole text stays the label's text (and so what the dialog's data
    // exchange reads back) and its tooltip; only the drawing is shortened.
    void SetPathText(const QString& text);
    // What is drawn at the current width.
    QString ShownText() const;

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    QRect TextRect() const;
};

// `text` shortened with "…" to fit `width` pixels: the part after the last
// path separator (the file name, with whatever follows it) is kept whole
// where it fits on its own, and as much of the start as still fits stays in
// front of it. A text that fits is returned unchanged.
QString ElidePath(const QString& text, const QFontMetrics& fm, int width);
