#include "forms/MessageBoxDialogs.h"

#include <QMessageBox>

namespace forms {

void MessageBoxDialogs::showMessage(const std::string& title, const std::string& text, instrument::MessageIcon icon)
{
    QMessageBox box(icon == instrument::MessageIcon::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon,
                    QString::fromStdString(title), QString::fromStdString(text), QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

} // namespace forms
