// The vantrel executable before any window: options, and a display that
// cannot be opened.
#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

namespace {

struct StartCase {
    const char* name;
    QStringList arguments;
    QStringList environment; // NAME=value, on top of an environment without a display
    int exitCode;
    const char* stdoutHas;
    const char* stderrHas;
};

TEST(VantrelStartTest, OptionsAndMissingDisplay)
{
    const char* advice =
        "no display can be opened; to run without a desktop use: xvfb-run -a build/vantrel --simulate\n";
    const StartCase cases[] = {
        {"no display", {"--simulate"}, {}, 1, "", advice},
        {"display that does not answer", {"--simulate"}, {"DISPLAY=:65000"}, 1, "", advice},
        {"unknown option", {"--simulated"}, {}, 2, "", "usage: vantrel [--simulate]"},
        {"empty file to record to", {"--record", ""}, {}, 2, "", "usage: vantrel [--simulate]"},
        {"help", {"--help"}, {}, 0, "usage: vantrel [--simulate]", ""},
    };
    for (const StartCase& c : cases) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        for (const QString& assignment : c.environment)
            environment.insert(assignment.section('=', 0, 0), assignment.section('=', 1));
        QProcess vantrel;
        vantrel.setProcessEnvironment(environment);
        vantrel.start(QStringLiteral(VANTREL_EXECUTABLE), c.arguments);
        ASSERT_TRUE(vantrel.waitForFinished(20000)) << c.name; // hang guard
        vantrel.kill();

        const QString out = QString::fromUtf8(vantrel.readAllStandardOutput());
        const QString err = QString::fromUtf8(vantrel.readAllStandardError());
        EXPECT_EQ(vantrel.exitStatus(), QProcess::NormalExit) << c.name; // no abort
        EXPECT_EQ(vantrel.exitCode(), c.exitCode) << c.name;
        EXPECT_TRUE(out.contains(QString::fromLatin1(c.stdoutHas))) << c.name << ": " << out.toStdString();
        EXPECT_TRUE(err.contains(QString::fromLatin1(c.stderrHas))) << c.name << ": " << err.toStdString();
        if (c.stderrHas == advice) {
            EXPECT_EQ(err.count('\n'), 1) << c.name << ": " << err.toStdString();
        }
    }
}

} // namespace
