#pragma once
// How long the UI thread stayed away from its event loop: the longest gap
// between the ticks of a 10 ms timer, from construction on (the test's own
// waits add about 10 ms).

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>

class EventLoopGaps {
public:
    EventLoopGaps()
    {
        QObject::connect(&m_tick, &QTimer::timeout, [this] { m_longestMs = std::max(m_longestMs, m_clock.restart()); });
        m_clock.start();
        m_tick.start(10);
    }
    qint64 longestMs() const { return m_longestMs; }

private:
    QElapsedTimer m_clock;
    qint64 m_longestMs = 0;
    QTimer m_tick;
};
