#include "CScheduler.h"

#include "ContainedStep.h"

#include <algorithm>
#include <utility>

namespace {

// Sets a scheduler flag for the length of a scope, so early returns and exceptions cannot leave
// it set; does not touch it once the scheduler has gone.
class FlagScope {
public:
    FlagScope(bool& flag, std::shared_ptr<bool> alive) : m_flag(flag), m_alive(std::move(alive)) { m_flag = true; }
    ~FlagScope() {
        if (*m_alive)
            m_flag = false;
    }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& m_flag;
    std::shared_ptr<bool> m_alive;
};

} // namespace

CScheduler::CScheduler(Hooks hooks, std::unique_ptr<IPeriodTimer> timer)
    : m_hooks(std::move(hooks)), m_timer(std::move(timer)) {
    m_timer->onTick = [this](unsigned timerId) { OnPeriodTimer(timerId); };
}

CScheduler::~CScheduler() {
    *m_alive = false;
    if (m_nTimerID != 0)
        m_timer->Kill(m_nTimerID);
    m_timer->onTick = nullptr;
}

std::int64_t CScheduler::PeriodDelayMs(std::int32_t periodMinutes) {
    return static_cast<std::int64_t>(std::clamp(periodMinutes, kMinPeriod, kMaxPeriod)) * kMsPerMinute;
}

void CScheduler::StartMonitoring() {
    ++m_nScheduleEpoch;
    m_bTickPending = false;
    Arm(kFirstRunDelayMs);
    m_bRunning = 1;
    if (m_hooks.updateControls)
        m_hooks.updateControls();
}

void CScheduler::StopMonitoring() {
    ++m_nScheduleEpoch;
    m_bTickPending = false;
    if (m_nTimerID != 0) {
        m_timer->Kill(m_nTimerID);
        m_nTimerID = 0;
    }
    m_bRunning = 0;
    if (m_hooks.updateControls)
        m_hooks.updateControls();
}

void CScheduler::OnPeriodTimer(unsigned timerId) {
    if (timerId == 0 || timerId != m_nTimerID)
        return;
    if (IsBusy() || MustWait()) {
        // The timer is one-shot, but kill it all the same so a platform timer that repeats
        // cannot pile up ticks; the pending flag stands for this one.
        m_timer->Kill(m_nTimerID);
        m_bTickPending = true;
        return;
    }
    RunTick();
}

void CScheduler::RunDeferredTick() {
    RunPendingTickIfFree();
}

void CScheduler::PingNow() {
    if (m_bInCheck)
        return; // only one check run at a time
    const int wasRunning = m_bRunning;
    const std::uint64_t epoch = m_nScheduleEpoch;
    if (wasRunning == 0) {
        m_bRunning = 1;
        if (m_hooks.updateControls)
            m_hooks.updateControls();
    }

    const std::shared_ptr<bool> alive = m_alive;
    (void)RunCheck(); // a Ping Now run raises no alert
    if (!*alive)
        return;

    // A Start or Stop given meanwhile has set the state the user wants; keep it.
    if (epoch == m_nScheduleEpoch) {
        m_bRunning = wasRunning;
        if (wasRunning == 0 && m_hooks.updateControls)
            m_hooks.updateControls();
    }
    RunPendingTickIfFree();
}

void CScheduler::RunTick() {
    const std::uint64_t epoch = m_nScheduleEpoch;
    const std::shared_ptr<bool> alive = m_alive;
    m_bInTick = true;
    // m_nTimerID keeps its value: it still names the timer the next tick will come from.
    m_timer->Kill(m_nTimerID);
    // A check run that threw has no result to raise alerts on; the schedule goes on.
    const std::optional<int> result = RunCheck();
    if (!*alive)
        return;
    const bool toOwner = result.has_value() && m_hooks.passEnded;
    if (!toOwner && (result != 0 || !m_hooks.raiseAlerts)) {
        EndTick(epoch);
        return;
    }
    // The alerts may end long after raiseAlerts returns (an e-mail waits for its server off the
    // event loop); the tick ends when they say so, once, or at once when the dispatch threw first.
    auto pending = std::make_shared<bool>(true);
    const std::weak_ptr<bool> weakAlive = alive;
    auto done = [this, weakAlive, pending, epoch] {
        const auto live = weakAlive.lock();
        if (live && *live && std::exchange(*pending, false))
            EndTick(epoch);
    };
    const bool returned = alerts::RunContained(kAlertsStep, [this, &done, &result, toOwner] {
        // Copied: they outlive a teardown inside the alerts.
        if (toOwner) {
            const auto passEnded = m_hooks.passEnded;
            passEnded(*result, done);
        } else {
            const auto raiseAlerts = m_hooks.raiseAlerts;
            raiseAlerts(done);
        }
    });
    if (!returned && *alive && std::exchange(*pending, false))
        EndTick(epoch);
}

void CScheduler::EndTick(std::uint64_t epoch) {
    m_bInTick = false;
    // Re-arm only when the schedule is still the one this tick belongs to: a Stop given during
    // the alerts must not be undone, and a Start given meanwhile has armed its own timer.
    if (epoch == m_nScheduleEpoch)
        Arm(PeriodDelayMs(CurrentPeriod()));
    RunPendingTickIfFree();
}

std::optional<int> CScheduler::RunCheck() {
    FlagScope inCheck(m_bInCheck, m_alive);
    if (!m_hooks.checkConnections)
        return 1;
    std::optional<int> result;
    alerts::RunContained(kCheckStep, [this, &result] {
        const auto checkConnections = m_hooks.checkConnections; // outlives a teardown inside the run
        result = checkConnections();
    });
    return result;
}

std::int32_t CScheduler::CurrentPeriod() const {
    std::int32_t period = kMinPeriod;
    if (m_hooks.period)
        alerts::RunContained(kArmStep, [this, &period] { period = m_hooks.period(); });
    return period;
}

void CScheduler::RunPendingTickIfFree() {
    if (!m_bTickPending || IsBusy() || MustWait())
        return;
    m_bTickPending = false;
    RunTick();
}

void CScheduler::Arm(std::int64_t delayMs) {
    // A timer that cannot be armed is a timer that did not start: no tick, identifier 0.
    unsigned timerId = 0;
    alerts::RunContained(kArmStep, [this, delayMs, &timerId] { timerId = m_timer->Arm(kTimerId, delayMs); });
    m_nTimerID = timerId;
    if (timerId != 0 && m_hooks.armed)
        alerts::RunContained(kArmStep, [this, delayMs] { m_hooks.armed(delayMs); });
}

bool CScheduler::MustWait() const {
    return m_hooks.runMustWait && m_hooks.runMustWait();
}
