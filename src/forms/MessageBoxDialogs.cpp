#include "forms/MessageBoxDialogs.h"

#include <QFontMetrics>
#include <QMessageBox>
#include <QRegularExpression>

namespace forms {
namespace {

// A word wider than this (a long resource name or path) would be cut off at
// the box's edge, losing its end, which tells the two ports apart.
constexpr int kWidestWordPixels = 420;

QString shortenLongWords(const QString& text, const QFontMetrics& metrics)
{
    QString shortened;
    for (const QString& piece : text.split(QRegularExpression(QStringLiteral("(?=\\s)|(?<=\\s)")))) {
        shortened += metrics.horizontalAdvance(piece) > kWidestWordPixels
                         ? metrics.elidedText(piece, Qt::ElideMiddle, kWidestWordPixels)
                         : piece;
    }
    return shortened;
}

} // namespace

void MessageBoxDialogs::showMessage(const std::string& title, const std::string& text, instrument::MessageIcon icon)
{
    QMessageBox box(icon == instrument::MessageIcon::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon,
                    QString::fromStdString(title), QString(), QMessageBox::Ok);
    box.setText(shortenLongWords(QString::fromStdString(text), QFontMetrics(box.font())));
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

} // namespace forms
