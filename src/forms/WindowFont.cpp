#include "forms/WindowFont.h"

#include <QDir>
#include <QFontDatabase>

namespace forms {

namespace {

constexpr double kPointSize = 8.25;

QString wineTahomaFamily(const QString& wineFontDir)
{
    const QStringList files =
        QDir(wineFontDir).entryList({QStringLiteral("tahoma.ttf")}, QDir::Files, QDir::Name | QDir::IgnoreCase);
    for (const QString& file : files) {
        const int id = QFontDatabase::addApplicationFont(QDir(wineFontDir).filePath(file));
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        if (!families.isEmpty())
            return families.first();
    }
    return {};
}

} // namespace

QFont windowFont(const QString& wineFontDir)
{
    QString family;
    if (QFontDatabase::families().contains(QStringLiteral("Tahoma")))
        family = QStringLiteral("Tahoma");
    else
        family = wineTahomaFamily(wineFontDir);
    // Narrow enough for captions measured in Tahoma; the plain desktop
    // sans is often too wide for the fixed control sizes.
    if (family.isEmpty() && QFontDatabase::families().contains(QStringLiteral("DejaVu Sans Condensed")))
        family = QStringLiteral("DejaVu Sans Condensed");

    QFont font = family.isEmpty() ? QFontDatabase::systemFont(QFontDatabase::GeneralFont) : QFont(family);
    font.setPointSizeF(kPointSize);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    return font;
}

} // namespace forms
