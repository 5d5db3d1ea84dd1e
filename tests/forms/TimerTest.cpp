// Window timers: a running timer keeps its countdown when enabled again, and
// an interval of 0 never ticks.
#include "forms/Timer.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

TEST(TimerTest, TicksAtItsIntervalUntilDisabled)
{
    forms::Timer timer;
    QSignalSpy ticks(&timer, &forms::Timer::tick);
    timer.setInterval(5);
    timer.setEnabled(true);
    EXPECT_TRUE(ticks.wait(5000)); // hang guard only
    timer.setEnabled(false);
    const auto counted = ticks.count();
    QTest::qWait(30);
    EXPECT_EQ(ticks.count(), counted);
}

TEST(TimerTest, IntervalZeroNeverTicksEvenWhenEnabled)
{
    forms::Timer timer;
    QSignalSpy ticks(&timer, &forms::Timer::tick);
    timer.setEnabled(true);
    EXPECT_TRUE(timer.isEnabled());
    EXPECT_FALSE(timer.isTicking());
    QTest::qWait(30);
    EXPECT_EQ(ticks.count(), 0);

    // Giving the enabled timer an interval starts it.
    timer.setInterval(5);
    EXPECT_TRUE(ticks.wait(5000));
}

TEST(TimerTest, EnablingARunningTimerKeepsItsCountdown)
{
    forms::Timer timer;
    timer.setInterval(10000);
    timer.setEnabled(true);
    QTest::qWait(200);
    timer.setEnabled(true);
    // A restart would have put the countdown back to the full interval.
    EXPECT_LE(timer.remainingTime(), 9850);

    timer.setEnabled(false);
    EXPECT_EQ(timer.remainingTime(), -1);
    timer.setEnabled(true);
    EXPECT_GT(timer.remainingTime(), 9850);
}

} // namespace
