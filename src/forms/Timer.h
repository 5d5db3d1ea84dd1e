#pragma once

#include <QObject>
#include <QTimer>

namespace forms {

// A window timer with an interval and an enabled state, ticking on the UI
// thread. Unlike a bare QTimer: enabling a running timer keeps its countdown,
// and an interval of 0 never ticks (the timer stays enabled but silent).
class Timer : public QObject {
    Q_OBJECT
public:
    explicit Timer(QObject* parent = nullptr);

    int interval() const { return m_interval; }
    // Milliseconds; a change restarts the countdown of an enabled timer.
    void setInterval(int milliseconds);

    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled);

    // True while ticks are actually scheduled.
    bool isTicking() const { return m_timer.isActive(); }
    // Milliseconds to the next tick; -1 while not ticking.
    int remainingTime() const { return m_timer.remainingTime(); }

signals:
    void tick();

private:
    void restart();

    QTimer m_timer;
    int m_interval = 0;
    bool m_enabled = false;
};

} // namespace forms
