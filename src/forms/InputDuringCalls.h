#pragma once

#include <QObject>
#include <QPointer>

#include <vector>

class QAction;
class QMenuBar;

namespace forms {

// What the user's input does while a handler waits for an instrument call:
// mouse, key and touch input is dropped, not held for later, since it was
// aimed at a window the handler is about to change (a greyed button it will
// enable). The menus stay open to the user so the program can always be
// ended from File > Exit, and every other menu item is greyed meanwhile.
// Closing the window and the termination signals are no input and always
// arrive. Only the window whose menu bar it greys is held: input to the
// program's other windows goes on. Input while no handler waits (the acquisition's readings travel
// without a wait) is delivered as usual.
class InputDuringCalls : public QObject {
    Q_OBJECT
public:
    // The menu bar whose items are greyed, and the items that end the program.
    InputDuringCalls(QMenuBar& menuBar, std::vector<QAction*> endings, QObject* parent = nullptr);

public slots:
    // Connected to visa::IoThread::callWaiting.
    void callWaiting(bool waiting);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QMenuBar& m_menuBar;
    std::vector<QAction*> m_endings;
    std::vector<QPointer<QAction>> m_greyed; // enabled before the wait, greyed during it
};

} // namespace forms
