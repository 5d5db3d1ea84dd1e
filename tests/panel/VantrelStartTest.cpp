// The vantrel executable before any window: a display that cannot be opened
// (its command line is checked in tests/cli).
#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

namespace {

struct StartCase {
    const char* name;
    QStringList environment; // NAME=value, on top of an environment without a display
    const char* reason;      // the display layer's own words, kept in the line
};

// One line, status 1, naming why (in Qt's words where Qt failed) and the
// command as it was run, under xvfb-run.
TEST(VantrelStartTest, NoDisplayIsOneLineWithTheReasonAndTheCommandAsRun)
{
    const StartCase cases[] = {
        {"no display named", {}, "DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM are all unset"},
        {"display that does not answer", {"DISPLAY=:65000"}, "could not connect to display :65000"},
        {"platform plugin that does not exist",
         {"QT_QPA_PLATFORM=nosuchplugin"},
         "Could not find the Qt platform plugin \"nosuchplugin\""},
    };
    const QStringList arguments{QStringLiteral("--simulate"), QStringLiteral("--record=/tmp/a b.csv")};
    const std::string advice =
        "; to run without a desktop use: xvfb-run -a " VANTREL_EXECUTABLE " --simulate '--record=/tmp/a b.csv'\n";
    for (const StartCase& c : cases) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        for (const QString& assignment : c.environment)
            environment.insert(assignment.section('=', 0, 0), assignment.section('=', 1));
        QProcess vantrel;
        vantrel.setProcessEnvironment(environment);
        vantrel.start(QStringLiteral(VANTREL_EXECUTABLE), arguments);
        ASSERT_TRUE(vantrel.waitForFinished(20000)) << c.name; // hang guard
        vantrel.kill();

        const std::string err = vantrel.readAllStandardError().toStdString();
        EXPECT_EQ(vantrel.exitStatus(), QProcess::NormalExit) << c.name; // no abort
        EXPECT_EQ(vantrel.exitCode(), 1) << c.name;
        EXPECT_EQ(vantrel.readAllStandardOutput(), "") << c.name;
        EXPECT_TRUE(err.starts_with("vantrel: no display can be opened (")) << c.name << ": " << err;
        EXPECT_NE(err.find(c.reason), std::string::npos) << c.name << ": " << err;
        EXPECT_TRUE(err.ends_with(advice)) << c.name << ": " << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << c.name << ": " << err;
    }
}

} // namespace
