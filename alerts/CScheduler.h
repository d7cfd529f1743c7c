#pragma once

#include <cstdint>
#include <functional>
#include <memory>

class IPeriodTimer;

// The monitoring schedule of the main window: Start/Stop, the period tick that runs a check and
// raises the alerts after a failed scheduled run, and "Ping Now" outside the schedule.
// The window supplies what it owns through Hooks; the timer is injectable so tests can drive time.
class CScheduler {
public:
    struct Hooks {
        std::function<int()> checkConnections;   // one check run; nonzero when every entry answered
        std::function<void()> raiseAlerts;       // the alert dispatch after a failed scheduled run
        std::function<void()> updateControls;    // re-apply the window's enable rules
        std::function<std::int32_t()> period;    // the list's current period, in minutes
        // True while a scheduled run must wait (e.g. an edit dialog is open on an entry).
        std::function<bool()> runMustWait;
    };

    static constexpr unsigned kTimerId = 1;
    static constexpr std::int64_t kFirstRunDelayMs = 1;
    static constexpr std::int32_t kMinPeriod = 1;
    static constexpr std::int32_t kMaxPeriod = 100000;

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

    int m_bRunning = 0;      // monitoring is on (also set for a Ping Now run while stopped)
    unsigned m_nTimerID = 0; // identifier of the armed period timer, 0 when none

private:
    // ... implementation state (deferred tick, alerting flag, stop-during-alerting, ...)
};

// A one-shot timer source. Arm() returns the timer identifier (nonzero) or 0 when it could not
// be armed; delays longer than a single platform timer can hold are waited out in steps.
class IPeriodTimer {
public:
    virtual ~IPeriodTimer() = default;
    virtual unsigned Arm(unsigned timerId, std::int64_t delayMs) = 0;
    virtual void Kill(unsigned timerId) = 0;
    // Set by CScheduler: called with the identifier when an armed timer falls due.
    std::function<void(unsigned timerId)> onTick;
};
