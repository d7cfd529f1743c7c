#include "CScheduler.h"
#include "FakePeriodTimer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Drives a CScheduler over a fake timer and records what the window hooks saw.
class SchedulerTest : public ::testing::Test {
protected:
    SchedulerTest() {
        auto timer = std::make_unique<FakePeriodTimer>();
        m_timer = timer.get();
        CScheduler::Hooks hooks;
        hooks.checkConnections = [this] {
            m_events.push_back("check");
            const int result = m_results.empty() ? 1 : m_results.front();
            if (!m_results.empty())
                m_results.pop_front();
            if (m_duringCheck) {
                auto action = std::move(m_duringCheck);
                action();
            }
            return result;
        };
        hooks.raiseAlerts = [this](std::function<void()> done) {
            m_events.push_back("alerts");
            if (m_duringAlerts) {
                auto action = std::move(m_duringAlerts);
                action();
            }
            if (m_alertsEndLater)
                m_endAlerts = std::move(done);
            else
                done();
        };
        hooks.updateControls = [this] { m_runningSeen.push_back(m_scheduler->m_bRunning); };
        hooks.period = [this] { return m_period; };
        hooks.runMustWait = [this] { return m_mustWait; };
        m_scheduler = std::make_unique<CScheduler>(std::move(hooks), std::move(timer));
    }

    int Count(const std::string& event) const {
        int n = 0;
        for (const auto& e : m_events)
            n += e == event;
        return n;
    }

    FakePeriodTimer* m_timer = nullptr;
    std::unique_ptr<CScheduler> m_scheduler;
    std::vector<std::string> m_events;
    std::vector<int> m_runningSeen;
    std::deque<int> m_results;     // results of the next check runs; 1 when empty
    bool m_alertsEndLater = false; // the alerts end when the test calls m_endAlerts
    std::function<void()> m_endAlerts;
    std::function<void()> m_duringCheck;  // runs once inside the next check run
    std::function<void()> m_duringAlerts; // runs once inside the next alert dispatch
    std::int32_t m_period = 15;
    bool m_mustWait = false;
};

constexpr std::int64_t kMinute = 60000;

TEST_F(SchedulerTest, StartRunsAtOnceThenEveryPeriodAfterTheRun) {
    m_scheduler->StartMonitoring();
    EXPECT_EQ(m_scheduler->m_bRunning, 1);
    EXPECT_EQ(m_scheduler->m_nTimerID, 1u);
    ASSERT_TRUE(m_timer->IsArmed());
    EXPECT_EQ(m_timer->LastDelay(), 1);
    EXPECT_EQ(m_runningSeen, std::vector<int>{1});
    EXPECT_TRUE(m_events.empty()) << "nothing runs before the first tick";

    // The timer is killed before the run and armed for the period only after it.
    m_duringCheck = [this] { EXPECT_FALSE(m_timer->IsArmed()); };
    ASSERT_TRUE(m_timer->Fire());
    EXPECT_EQ(m_events, std::vector<std::string>{"check"}) << "a run that answered raises nothing";
    EXPECT_EQ(m_timer->LastDelay(), 15 * kMinute);
    EXPECT_EQ(m_scheduler->m_nTimerID, 1u);

    ASSERT_TRUE(m_timer->Fire());
    EXPECT_EQ(Count("check"), 2);
    EXPECT_TRUE(m_timer->IsArmed());
}

TEST_F(SchedulerTest, FailedRunRaisesAlertsBeforeReArming) {
    m_results = {0, 1, 0};
    m_duringAlerts = [this] { EXPECT_FALSE(m_timer->IsArmed()) << "the period counts from the end of the alerts"; };
    m_scheduler->StartMonitoring();
    m_timer->Fire();
    m_timer->Fire();
    m_timer->Fire();
    EXPECT_EQ(m_events, (std::vector<std::string>{"check", "alerts", "check", "check", "alerts"}));
    EXPECT_TRUE(m_timer->IsArmed());
    EXPECT_EQ(m_timer->LastDelay(), 15 * kMinute);
}

TEST_F(SchedulerTest, ChangedPeriodAppliesAtTheNextReArm) {
    m_scheduler->StartMonitoring();
    m_timer->Fire();
    ASSERT_EQ(m_timer->LastDelay(), 15 * kMinute);
    const auto armsBefore = m_timer->arms.size();

    m_period = 2;
    EXPECT_EQ(m_timer->arms.size(), armsBefore) << "the running wait is not changed";
    m_timer->Fire();
    EXPECT_EQ(m_timer->LastDelay(), 2 * kMinute);
}

TEST_F(SchedulerTest, LongestPeriodIsComputedInSixtyFourBitsAndLoadedPeriodsAreClamped) {
    m_period = 100000;
    m_scheduler->StartMonitoring();
    m_timer->Fire();
    EXPECT_EQ(m_timer->LastDelay(), INT64_C(6000000000));

    // Out-of-range periods can only come from a list file; they are used clamped.
    for (const auto& [loaded, expected] :
         std::vector<std::pair<std::int32_t, std::int64_t>>{{0, kMinute},
                                                            {-7, kMinute},
                                                            {INT32_MIN, kMinute},
                                                            {100001, 100000 * kMinute},
                                                            {INT32_MAX, 100000 * kMinute}}) {
        m_period = loaded;
        m_timer->Fire();
        EXPECT_EQ(m_timer->LastDelay(), expected) << "period " << loaded;
    }
}

TEST_F(SchedulerTest, StopKillsTheTimerAndStartRunsAtOnceAgain) {
    m_scheduler->StartMonitoring();
    m_timer->Fire();
    m_scheduler->StopMonitoring();
    EXPECT_EQ(m_scheduler->m_bRunning, 0);
    EXPECT_EQ(m_scheduler->m_nTimerID, 0u);
    EXPECT_FALSE(m_timer->IsArmed());
    EXPECT_EQ(m_runningSeen, (std::vector<int>{1, 0}));

    m_scheduler->StartMonitoring();
    EXPECT_EQ(m_timer->LastDelay(), 1);
    m_timer->Fire();
    EXPECT_EQ(Count("check"), 2);
}

TEST_F(SchedulerTest, ForeignAndStaleTicksDoNothing) {
    m_timer->FireForeign(1); // nothing armed yet: m_nTimerID is 0
    m_scheduler->StartMonitoring();
    m_timer->FireForeign(7);
    m_timer->FireForeign(0);
    EXPECT_TRUE(m_events.empty());
    EXPECT_EQ(m_timer->arms.size(), 1u);
    EXPECT_TRUE(m_timer->kills.empty());

    m_scheduler->StopMonitoring();
    m_timer->FireForeign(1); // a tick already queued when Stop killed the timer
    EXPECT_TRUE(m_events.empty());
}

TEST_F(SchedulerTest, PingNowWhileStoppedShowsRunningForTheRunOnly) {
    m_results = {0};
    m_duringCheck = [this] { EXPECT_EQ(m_scheduler->m_bRunning, 1); };
    m_scheduler->PingNow();
    EXPECT_EQ(m_events, std::vector<std::string>{"check"}) << "Ping Now raises no alert";
    EXPECT_EQ(m_scheduler->m_bRunning, 0);
    EXPECT_EQ(m_runningSeen, (std::vector<int>{1, 0}));
    EXPECT_TRUE(m_timer->arms.empty());
}

TEST_F(SchedulerTest, PingNowWhileMonitoringLeavesTheScheduleAlone) {
    m_scheduler->StartMonitoring();
    m_timer->Fire();
    const auto arms = m_timer->arms.size();
    const auto kills = m_timer->kills.size();
    m_runningSeen.clear();

    m_scheduler->PingNow();
    EXPECT_EQ(m_scheduler->m_bRunning, 1);
    EXPECT_TRUE(m_runningSeen.empty());
    EXPECT_EQ(m_timer->arms.size(), arms);
    EXPECT_EQ(m_timer->kills.size(), kills);
    EXPECT_TRUE(m_timer->IsArmed());
}

TEST_F(SchedulerTest, TickDueDuringPingNowRunsWhenThePingEnds) {
    m_scheduler->StartMonitoring();
    m_results = {1, 0};
    m_duringCheck = [this] {
        m_timer->Fire(); // the period ends while Ping Now's run pumps events
        EXPECT_EQ(Count("check"), 1) << "no second run may start inside a run";
    };
    m_scheduler->PingNow();
    EXPECT_EQ(m_events, (std::vector<std::string>{"check", "check", "alerts"}));
    EXPECT_TRUE(m_timer->IsArmed());
    EXPECT_EQ(m_timer->LastDelay(), 15 * kMinute);
    EXPECT_EQ(m_scheduler->m_bRunning, 1);
}

TEST_F(SchedulerTest, PingNowDuringARunIsIgnored) {
    m_scheduler->StartMonitoring();
    m_duringCheck = [this] { m_scheduler->PingNow(); };
    m_timer->Fire();
    EXPECT_EQ(Count("check"), 1);
}

TEST_F(SchedulerTest, StopDuringAlertingWins) {
    m_results = {0};
    m_scheduler->StartMonitoring();
    m_duringAlerts = [this] { m_scheduler->StopMonitoring(); };
    m_timer->Fire();
    EXPECT_EQ(m_events, (std::vector<std::string>{"check", "alerts"}));
    EXPECT_FALSE(m_timer->IsArmed());
    EXPECT_EQ(m_scheduler->m_nTimerID, 0u);
    EXPECT_EQ(m_scheduler->m_bRunning, 0);
}

TEST_F(SchedulerTest, StopAndStartDuringAlertingRunAtOnceAfterTheAlerts) {
    m_results = {0, 1};
    m_scheduler->StartMonitoring();
    m_duringAlerts = [this] {
        m_scheduler->StopMonitoring();
        m_scheduler->StartMonitoring();
        m_timer->Fire(); // Start's 1 ms tick arrives while the alerts still pump events
        EXPECT_EQ(Count("check"), 1);
    };
    m_timer->Fire();
    EXPECT_EQ(m_events, (std::vector<std::string>{"check", "alerts", "check"}));
    EXPECT_EQ(m_scheduler->m_bRunning, 1);
    EXPECT_TRUE(m_timer->IsArmed());
    EXPECT_EQ(m_timer->LastDelay(), 15 * kMinute);
}

// The e-mail ends on a later turn of the event loop: the tick lasts until then, whatever else the
// user does meanwhile, and only its end re-arms the timer.
TEST_F(SchedulerTest, AlertsThatEndLaterHoldTheTickUntilTheyEnd) {
    m_results = {0, 1};
    m_alertsEndLater = true;
    m_scheduler->StartMonitoring();
    m_timer->Fire();
    ASSERT_TRUE(m_endAlerts);
    EXPECT_TRUE(m_scheduler->IsBusy());
    EXPECT_FALSE(m_timer->IsArmed()) << "the period counts from the end of the alerts";
    m_scheduler->PingNow(); // the window is usable while the alerts go on
    EXPECT_EQ(Count("check"), 2);
    EXPECT_FALSE(m_timer->IsArmed());

    auto endAlerts = std::move(m_endAlerts);
    endAlerts();
    EXPECT_FALSE(m_scheduler->IsBusy());
    EXPECT_TRUE(m_timer->IsArmed());
    EXPECT_EQ(m_timer->LastDelay(), 15 * kMinute);
    endAlerts(); // a second end changes nothing
    EXPECT_EQ(m_events, (std::vector<std::string>{"check", "alerts", "check"}));

    // A schedule torn down before the alerts end: their end does nothing.
    m_results = {0};
    m_timer->Fire();
    endAlerts = std::move(m_endAlerts);
    m_scheduler.reset();
    endAlerts();
}

TEST_F(SchedulerTest, TickWaitsWhileAnEditDialogIsOpen) {
    m_scheduler->StartMonitoring();
    m_mustWait = true;
    m_timer->Fire();
    EXPECT_TRUE(m_events.empty());
    m_scheduler->RunDeferredTick(); // still open: nothing happens
    EXPECT_TRUE(m_events.empty());

    m_mustWait = false;
    m_scheduler->RunDeferredTick();
    EXPECT_EQ(m_events, std::vector<std::string>{"check"});
    EXPECT_EQ(m_timer->LastDelay(), 15 * kMinute);
    m_scheduler->RunDeferredTick(); // nothing pending any more
    EXPECT_EQ(Count("check"), 1);
}

TEST_F(SchedulerTest, StopDropsADeferredTick) {
    m_scheduler->StartMonitoring();
    m_mustWait = true;
    m_timer->Fire();
    m_scheduler->StopMonitoring();
    m_mustWait = false;
    m_scheduler->RunDeferredTick();
    EXPECT_TRUE(m_events.empty());
    EXPECT_FALSE(m_timer->IsArmed());
}

TEST_F(SchedulerTest, ThrowingCheckOrAlertsNeverLeaveTheTickAndTheTimerIsArmedAgain) {
    m_results = {0, 0, 1};
    m_scheduler->StartMonitoring();
    testing::internal::CaptureStderr();

    m_duringCheck = [] { throw std::bad_alloc(); };
    ASSERT_NO_THROW(m_timer->Fire());
    EXPECT_EQ(m_events, std::vector<std::string>{"check"}) << "a check without a result raises no alerts";
    EXPECT_TRUE(m_timer->IsArmed());
    EXPECT_EQ(m_timer->LastDelay(), 15 * kMinute);

    m_duringAlerts = [] { throw std::runtime_error("dispatch broke"); };
    ASSERT_NO_THROW(m_timer->Fire());
    EXPECT_EQ(m_events, (std::vector<std::string>{"check", "check", "alerts"}));
    EXPECT_TRUE(m_timer->IsArmed());

    // Ping Now puts the state back all the same.
    m_scheduler->StopMonitoring();
    m_duringCheck = [] { throw 1; };
    ASSERT_NO_THROW(m_scheduler->PingNow());
    EXPECT_EQ(m_scheduler->m_bRunning, 0);
    EXPECT_FALSE(m_scheduler->IsBusy());

    // A timer that cannot be armed is one that did not start.
    m_timer->throwOnArm = true;
    ASSERT_NO_THROW(m_scheduler->StartMonitoring());
    EXPECT_EQ(m_scheduler->m_nTimerID, 0u);

    const std::string program = program_invocation_short_name;
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              program + ": check run ended with an error: std::bad_alloc\n" + program +
                  ": alert dispatch ended with an error: dispatch broke\n" + program +
                  ": check run ended with an error: unknown exception\n" + program +
                  ": arming the period timer ended with an error: std::bad_alloc\n");
}

TEST_F(SchedulerTest, WindowTornDownDuringARunIsSafe) {
    m_results = {0, 1};
    m_scheduler->StartMonitoring();
    m_duringAlerts = [this] { m_scheduler.reset(); };
    m_timer->Fire();
    EXPECT_EQ(m_events, (std::vector<std::string>{"check", "alerts"}));

    // The same during a Ping Now run.
    auto timer = std::make_unique<FakePeriodTimer>();
    CScheduler::Hooks hooks;
    std::unique_ptr<CScheduler> scheduler;
    hooks.checkConnections = [&scheduler] {
        scheduler.reset();
        return 1;
    };
    scheduler = std::make_unique<CScheduler>(std::move(hooks), std::move(timer));
    scheduler->PingNow();
    EXPECT_EQ(scheduler, nullptr);
}

} // namespace
