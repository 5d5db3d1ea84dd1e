#include "forms/SaveFileDialog.h"

#include <QFileDialog>

namespace forms {

QString DesktopSaveFileDialog::askSavePath(QWidget* parent, const QString& caption, const QString& suggestedPath,
                                           const QString& filter)
{
    // QFileDialog asks before replacing an existing file.
    return QFileDialog::getSaveFileName(parent, caption, suggestedPath, filter);
}

} // namespace forms
