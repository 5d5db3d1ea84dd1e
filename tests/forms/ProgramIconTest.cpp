#include "forms/ProgramIcon.h"

#include <QImage>
#include <gtest/gtest.h>

namespace {

bool contains(const QImage& image, const QColor& color)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) == color)
                return true;
    return false;
}

struct IconCase {
    int size;
    QColor bezel;
    QColor wave;
};

TEST(ProgramIconTest, ScreenInBezelWithWaveInBothSizes)
{
    const QIcon icon = forms::programIcon();
    const IconCase cases[] = {
        {32, QColor(0xC0, 0xC0, 0xC0), QColor(Qt::white)},
        {16, QColor(0x80, 0x80, 0x80), QColor(0x00, 0xFF, 0x00)},
    };
    EXPECT_EQ(icon.availableSizes().size(), 2);
    for (const IconCase& c : cases) {
        const QImage image = icon.pixmap(c.size, c.size).toImage();
        ASSERT_EQ(image.size(), QSize(c.size, c.size)) << c.size;
        EXPECT_EQ(image.pixelColor(0, 0), c.bezel) << c.size;
        EXPECT_EQ(image.pixelColor(c.size - 1, c.size - 1), c.bezel) << c.size;
        EXPECT_TRUE(contains(image, Qt::black)) << c.size;
        EXPECT_TRUE(contains(image, c.wave)) << c.size;
        // The wave crosses the middle of the screen.
        EXPECT_NE(image.pixelColor(c.size / 8 + 1, c.size / 2), QColor(Qt::black)) << c.size;
    }
}

TEST(ProgramIconTest, AboutPictureHasTheLargeScreenWithAGreenWave)
{
    const QImage image = forms::aboutIconPixmap().toImage();
    EXPECT_EQ(image.size(), QSize(32, 32));
    EXPECT_TRUE(contains(image, QColor(0x00, 0xFF, 0x00)));
    EXPECT_FALSE(contains(image, Qt::white));
}

} // namespace
