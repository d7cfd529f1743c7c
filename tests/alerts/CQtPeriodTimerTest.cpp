#include "CQtPeriodTimer.h"
#include "CScaledPeriodTimer.h"
#include "QtTestApp.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

namespace {

using testsupport::ProcessEventsUntil;
using testsupport::QtTestApp;

TEST(CQtPeriodTimerTest, LongestPeriodIsWaitedOutInStepsThatAddUpToIt) {
    const std::int64_t period = INT64_C(6000000000); // 100000 minutes
    std::vector<std::int64_t> steps;
    for (std::int64_t left = period; left > 0; left -= steps.back())
        steps.push_back(CQtPeriodTimer::NextStepMs(left, CQtPeriodTimer::kMaxStepMs));
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_EQ(steps[0], INT_MAX);
    EXPECT_EQ(steps[1], INT_MAX);
    EXPECT_EQ(steps[0] + steps[1] + steps[2], period);
}

TEST(CQtPeriodTimerTest, ChainedStepsEndTheWholeDelayLater) {
    QtTestApp();
    CQtPeriodTimer timer(/*maxStepMs=*/15);
    std::vector<unsigned> ticks;
    qint64 tickedAfter = -1;
    QElapsedTimer clock;
    timer.onTick = [&](unsigned id) {
        ticks.push_back(id);
        tickedAfter = clock.elapsed();
    };
    clock.start();
    EXPECT_EQ(timer.Arm(1, 120), 1u);
    ASSERT_TRUE(ProcessEventsUntil([&] { return !ticks.empty(); }, 10000));
    EXPECT_GE(tickedAfter, 120) << "a step must not be taken for the whole delay";
    // Exactly one tick: the steps in between are not ticks.
    ProcessEventsUntil([] { return false; }, 100);
    EXPECT_EQ(ticks, std::vector<unsigned>{1});
}

TEST(CQtPeriodTimerTest, KillAndReArmFromInsideTheTick) {
    QtTestApp();
    CQtPeriodTimer timer(10);
    int ticks = 0;
    timer.onTick = [&](unsigned id) {
        ++ticks;
        timer.Kill(id); // the scheduler kills, runs, then arms again
        if (ticks < 3)
            timer.Arm(id, 5);
    };
    timer.Arm(1, 1);
    ASSERT_TRUE(ProcessEventsUntil([&] { return ticks == 3; }, 10000));
    ProcessEventsUntil([] { return false; }, 100);
    EXPECT_EQ(ticks, 3);

    // A killed timer stays quiet; arming again replaces any earlier delay.
    timer.Arm(1, 30);
    timer.Kill(1);
    timer.Arm(2, 100000);
    timer.Arm(2, 5);
    ProcessEventsUntil([] { return false; }, 200);
    EXPECT_EQ(ticks, 4);
    EXPECT_EQ(timer.Arm(0, 5), 0u) << "identifier 0 is never a timer";
}

TEST(CQtPeriodTimerTest, ScaledMinutesShortenDelaysAndNeverOverflow) {
    QtTestApp();
    const std::int64_t longestPeriod = INT64_C(6000000000); // 100000 minutes
    struct Case {
        std::int64_t minuteMs;
        std::int64_t delayMs;
        bool ticksSoon; // within a generous second
    };
    for (const Case& c : {Case{INT_MAX, longestPeriod, false}, Case{20, 3 * 60000, true}, Case{INT_MAX, 100, true}}) {
        SCOPED_TRACE(std::to_string(c.minuteMs) + " ms a minute, " + std::to_string(c.delayMs) + " ms");
        CScaledPeriodTimer timer(c.minuteMs);
        bool ticked = false;
        timer.onTick = [&](unsigned) { ticked = true; };
        QElapsedTimer clock;
        clock.start();
        ASSERT_EQ(timer.Arm(1, c.delayMs), 1u);
        EXPECT_EQ(ProcessEventsUntil([&] { return ticked; }, 1000), c.ticksSoon);
        if (c.ticksSoon) {
            EXPECT_GE(clock.elapsed(), c.delayMs * std::min<std::int64_t>(c.minuteMs, 60000) / 60000);
        }
    }
}

} // namespace
