// SPDX-License-Identifier: MIT
// What the Qt side of the dialog layer offers beyond CDialog: the widgets
// behind a dialog and its controls (for the program's pictures and for
// tests), text conversion at the edge, and the fonts of the templates and
// the log.
#pragma once

#include "cstring.h"
#include "dialog_template.h"

#include <QFont>
#include <QRect>
#include <QString>

#include <vector>

class CDialog;
class QDialog;
class QWidget;

QDialog* QtWindow(const CDialog& dlg);
QWidget* QtControl(const CDialog& dlg, int nID);
// Every control, labels and group boxes included, in template order.
const std::vector<QWidget*>& QtControls(const CDialog& dlg);
DlgBaseUnits QtBaseUnits(const CDialog& dlg);

inline QString ToQString(const CString& s)
{
    return QString::fromUtf8(s.GetString(), s.GetLength());
}
inline CString FromQString(const QString& s)
{
    return CString(s.toUtf8().toStdString());
}

// The template's font: the face asked for by name, with the Song-style faces
// of this system as substitutes so fontconfig finds a Chinese face.
QFont DialogFont(const DlgTemplate& t);
// Horizontal base unit: average width of the 52 Latin letters, rounded;
// vertical: the font's height.
DlgBaseUnits BaseUnitsOf(const QFont& font);
QRect DlgToPixels(const QRect& dlu, DlgBaseUnits units);

// The log's face: a clear Latin face first, the Song-style faces for
// Chinese behind it, at the template's size.
QFont LogFont(int pointSize);
// Extra space under each log line so that no glyph of either face (an
// underscore, a descender, a Chinese character) reaches into the next line.
qreal LogLinePadding(const QFont& font);
