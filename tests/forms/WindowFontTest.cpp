#include "forms/WindowFont.h"

#include <QFile>
#include <QFontDatabase>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

bool tahomaInstalled()
{
    return QFontDatabase::families().contains(QStringLiteral("Tahoma"));
}

TEST(WindowFontTest, EightAndAQuarterPointRegular)
{
    QTemporaryDir empty;
    const QFont font = forms::windowFont(empty.path());
    EXPECT_DOUBLE_EQ(font.pointSizeF(), 8.25);
    EXPECT_EQ(font.weight(), QFont::Normal);
    EXPECT_FALSE(font.italic());
    if (tahomaInstalled())
        EXPECT_EQ(font.family(), QStringLiteral("Tahoma"));
    else if (QFontDatabase::families().contains(QStringLiteral("DejaVu Sans Condensed")))
        EXPECT_EQ(font.family(), QStringLiteral("DejaVu Sans Condensed"));
    else
        EXPECT_EQ(font.family(), QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
}

TEST(WindowFontTest, LoadsTheWineReplacementFromItsFolder)
{
    if (tahomaInstalled())
        GTEST_SKIP() << "Tahoma is installed, the replacement is never loaded";
    const QString source = QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf");
    if (!QFile::exists(source))
        GTEST_SKIP() << "no font file to stand in for the replacement";
    QTemporaryDir wineFonts;
    ASSERT_TRUE(QFile::copy(source, wineFonts.filePath(QStringLiteral("tahoma.ttf"))));

    EXPECT_EQ(forms::windowFont(wineFonts.path()).family(), QStringLiteral("DejaVu Sans Mono"));
}

} // namespace
