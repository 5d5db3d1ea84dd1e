// vantrel-bench-window: vantrel --simulate, wired as its main wires it, that
// prints "shown <CLOCK_MONOTONIC ns>" once the main window has first been
// exposed and painted, then ends. vantrel-bench-program startup times it from
// the moment it made the process.
#include "ProgramWindow.h"

#include "app/ProgramSurroundings.h"
#include "forms/MessageBoxDialogs.h"
#include "panel/MainForm.h"

#include <QApplication>
#include <QTimer>
#include <QWindow>

#include <time.h>

#include <cstdio>
#include <cstdlib>

namespace {

// Watches every event of the application for the first expose of the main window.
class FirstExpose : public QObject {
public:
    explicit FirstExpose(QWidget& window) : m_window(window) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!m_seen && event->type() == QEvent::Expose && watched == m_window.windowHandle()
            && m_window.windowHandle()->isExposed()) {
            m_seen = true;
            // Runs once the expose has been handled, the window painted.
            QTimer::singleShot(0, [] {
                timespec now{};
                ::clock_gettime(CLOCK_MONOTONIC, &now);
                std::printf("shown %lld\n", static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
                std::fflush(stdout);
                std::_Exit(EXIT_SUCCESS);
            });
        }
        return false;
    }

private:
    QWidget& m_window;
    bool m_seen = false;
};

} // namespace

int main(int argc, char** argv)
{
    bench::useOffscreenUnlessSet();
    QApplication app(argc, argv);
    bench::dressApplication();

    forms::MessageBoxDialogs dialogs;
    const panel::ResourceMode mode = panel::ResourceMode::Simulation;
    panel::MainForm window(app::programSurroundings(mode, dialogs, [] { std::_Exit(EXIT_FAILURE); }), mode);
    FirstExpose probe(window);
    app.installEventFilter(&probe);
    window.show();
    return app.exec();
}
