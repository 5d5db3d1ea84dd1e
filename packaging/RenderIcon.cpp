// vantrel-render-icon: writes the program icon as PNG files in the layout of
// an icon theme, OUTDIR/<n>x<n>/apps/NAME.png, for each size given. Runs at
// build time on the offscreen platform, so no display is needed.
#include "forms/ProgramIcon.h"

#include <QDir>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fputs("usage: vantrel-render-icon OUTDIR NAME SIZE...\n", stderr);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    for (int i = 3; i < argc; ++i) {
        const int size = QString::fromLocal8Bit(argv[i]).toInt();
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(outDir).arg(size);
        const QString file = QStringLiteral("%1/%2.png").arg(dir, name);
        if (size <= 0 || !QDir().mkpath(dir) || !forms::programIconPixmap(size).save(file, "PNG")) {
            std::fprintf(stderr, "vantrel-render-icon: cannot write %s (size %s)\n", qPrintable(file), argv[i]);
            return 1;
        }
    }
    return 0;
}
