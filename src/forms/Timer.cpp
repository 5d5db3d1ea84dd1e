#include "forms/Timer.h"

namespace forms {

Timer::Timer(QObject* parent) : QObject(parent)
{
    // Coarse timers may fire up to 5% late; the blink phases should not drift.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &Timer::tick);
}

void Timer::setInterval(int milliseconds)
{
    m_interval = milliseconds < 0 ? 0 : milliseconds;
    restart();
}

void Timer::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    restart();
}

void Timer::restart()
{
    m_timer.stop();
    if (m_enabled && m_interval > 0)
        m_timer.start(m_interval);
}

} // namespace forms
