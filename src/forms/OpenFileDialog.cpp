#include "forms/OpenFileDialog.h"

#include <QFileDialog>

namespace forms {

QString DesktopOpenFileDialog::askOpenPath(QWidget* parent, const QString& caption, const QString& folder,
                                           const QString& filter)
{
    return QFileDialog::getOpenFileName(parent, caption, folder, filter);
}

} // namespace forms
