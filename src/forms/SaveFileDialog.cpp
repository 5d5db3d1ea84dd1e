#include "forms/SaveFileDialog.h"

#include <QFileDialog>
#include <QFileInfo>

namespace forms {

QString DesktopSaveFileDialog::askSavePath(QWidget* parent, const QString& caption, const QString& suggestedPath,
                                           const QString& filter)
{
    QFileDialog dialog(parent, caption, suggestedPath, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    // A name typed without an extension gets the suggested one, and the
    // dialog asks before replacing a file of that full name.
    dialog.setDefaultSuffix(QFileInfo(suggestedPath).suffix());
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
}

} // namespace forms
