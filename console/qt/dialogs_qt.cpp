// SPDX-License-Identifier: MIT
// The Qt side's own dialogs: the file chooser and the question asked
// before a running download is abandoned.
#include "loader_dlg.h"
#include "qt_backend.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace {

// "label|pattern|label|pattern||" to Qt's "label;;label": Qt reads the
// patterns from the labels' brackets, which here name the same patterns.
QString QtFilter(const CString& mfcFilter)
{
    const QStringList parts = ToQString(mfcFilter).split(QLatin1Char('|'), Qt::SkipEmptyParts);
    QStringList labels;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        labels << parts[i];
    return labels.join(QStringLiteral(";;"));
}

}  // namespace

bool ChooseFileWithDialog(const FileChooserRequest& request, CString* path)
{
    QFileDialog dlg(nullptr);
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(QFileDialog::ExistingFile);
    dlg.setNameFilter(QtFilter(request.filter));
    dlg.setDefaultSuffix(ToQString(request.defaultExt));
    dlg.selectFile(ToQString(request.initialName));
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return false;
    *path = FromQString(dlg.selectedFiles().first());
    return true;
}

bool AskAbortAndQuitWithBox(CDialog* parent)
{
    QWidget* w = parent ? QtWindow(*parent) : nullptr;
    return QMessageBox::question(w, w ? w->windowTitle() : QString(),
                                 QStringLiteral("A download is running. Abort it and quit?"),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}
