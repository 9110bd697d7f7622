// SPDX-License-Identifier: MIT
// The two controls the Qt side builds beyond Qt's own: a combo box that
// tells its dialog it is about to drop down (so a list can be brought up to
// date first), and a static text that shortens a long path in the middle,
// keeping the file name in view.
#pragma once

#include <QComboBox>
#include <QLabel>

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
