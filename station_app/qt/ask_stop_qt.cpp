// SPDX-License-Identifier: MIT
// The question asked before running downloads are cut short, as Qt asks it.
#include "qt_backend.h"
#include "station_dlg.h"

#include <QMessageBox>

bool AskStopAndQuitWithBox(CDialog* parent, int running)
{
    QWidget* w = parent ? QtWindow(*parent) : nullptr;
    return QMessageBox::question(w, w ? w->windowTitle() : QString(),
                                 QString::fromStdString(StopAndQuitText(running)), QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}
