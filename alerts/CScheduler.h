#pragma once

#include "IPeriodTimer.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

// The monitoring schedule of the main window: Start/Stop, the period tick that runs a check and
// raises the alerts after a failed scheduled run, and "Ping Now" outside the schedule.
// The window supplies what it owns through Hooks; the timer is injectable so tests can drive time.
//
// Check runs and the modal pop-up spin nested event loops, so ticks and button presses can arrive
// while a tick or a Ping Now run is still on the stack. The rules that keep one run at a time:
// - a tick that falls due during a run, or while runMustWait() holds, is deferred and runs as
//   soon as the run has ended (or, for runMustWait, when the window calls RunDeferredTick());
// - a Stop or Start given while a tick is running wins: that tick does not re-arm the timer;
// - Ping Now while a check run is in progress does nothing.
// Nothing a hook throws leaves a tick or Ping Now: it is written to standard error, a check run
// that threw raises no alerts, and the timer is armed again all the same.
class CScheduler {
public:
    struct Hooks {
        std::function<int()> checkConnections; // one check run; nonzero when every entry answered
        // The alert dispatch after a failed scheduled run. It calls done once the alerts have
        // ended, possibly later than it returns; the tick (and the re-arming) ends only then.
        std::function<void(std::function<void()> done)> raiseAlerts;
        // Instead of raiseAlerts when set: every scheduled run that ended, with its result, for an
        // owner that decides itself what a pass raises (an alert policy). Calls done likewise.
        std::function<void(int result, std::function<void()> done)> passEnded;
        std::function<void()> updateControls; // re-apply the window's enable rules
        std::function<std::int32_t()> period; // the list's current period, in minutes
        // True while a scheduled run must wait (e.g. an edit dialog is open on an entry).
        std::function<bool()> runMustWait;
        // The period timer has been armed to fall due after delayMs (optional).
        std::function<void(std::int64_t delayMs)> armed;
    };

    static constexpr unsigned kTimerId = 1;
    static constexpr std::int64_t kFirstRunDelayMs = 1;
    static constexpr std::int32_t kMinPeriod = 1;
    static constexpr std::int32_t kMaxPeriod = 100000;
    static constexpr std::int64_t kMsPerMinute = 60000;
    // The steps' names in the line written to standard error.
    static constexpr const char* kCheckStep = "check run";
    static constexpr const char* kAlertsStep = "alert dispatch";
    static constexpr const char* kArmStep = "arming the period timer";

    CScheduler(Hooks hooks, std::unique_ptr<IPeriodTimer> timer);
    ~CScheduler();
    CScheduler(const CScheduler&) = delete;
    CScheduler& operator=(const CScheduler&) = delete;

    void StartMonitoring();
    void StopMonitoring();
    void OnPeriodTimer(unsigned timerId);
    void PingNow();

    // Runs a tick that was deferred because a run had to wait; the window calls it when the
    // reason has gone (the edit dialog closed). Does nothing when no tick is pending.
    void RunDeferredTick();

    // The delay between runs for a period in minutes; a period outside the accepted range
    // (only possible from a list file) is used clamped to it.
    static std::int64_t PeriodDelayMs(std::int32_t periodMinutes);

    // True while a scheduled run or a Ping Now run (with its alerts) is on the stack.
    bool IsBusy() const { return m_bInTick || m_bInCheck; }

    int m_bRunning = 0;      // monitoring is on (also set for a Ping Now run while stopped)
    unsigned m_nTimerID = 0; // identifier of the armed period timer, 0 when none

private:
    void RunTick();
    // The end of a tick, once its alerts have ended: re-arms and runs a deferred tick.
    void EndTick(std::uint64_t epoch);
    // The check run's result; none when it threw.
    std::optional<int> RunCheck();
    std::int32_t CurrentPeriod() const;
    void RunPendingTickIfFree();
    void Arm(std::int64_t delayMs);
    bool MustWait() const;

    Hooks m_hooks;
    std::unique_ptr<IPeriodTimer> m_timer;
    bool m_bInTick = false;      // a scheduled run or its alerts are in progress (the alerts may end later)
    bool m_bInCheck = false;     // a check run (scheduled or Ping Now) is in progress
    bool m_bTickPending = false; // a tick fell due while it could not run
    // Bumped by every Start and Stop, so a tick can tell that the user changed the schedule
    // while its run or its alerts were going on.
    std::uint64_t m_nScheduleEpoch = 0;
    // Cleared by the destructor: the window may be torn down from a nested event loop while a
    // run is still on the stack, and that frame must not touch the scheduler afterwards.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
