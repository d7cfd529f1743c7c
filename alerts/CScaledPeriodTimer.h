#pragma once

#include "CQtPeriodTimer.h"
#include "CScheduler.h"

#include <algorithm>
#include <cstdint>

// The period timer with every minute shortened to minuteMs, so a schedule of minutes can be run
// through in seconds (tests, benchmarks). A delay never shrinks below 1 ms.
class CScaledPeriodTimer final : public IPeriodTimer {
public:
    explicit CScaledPeriodTimer(std::int64_t minuteMs) : m_minuteMs(minuteMs) {
        m_timer.onTick = [this](unsigned timerId) {
            // A copy: the handler may run nested event loops in which this timer goes away.
            if (const auto tick = onTick)
                tick(timerId);
        };
    }
    unsigned Arm(unsigned timerId, std::int64_t delayMs) override {
        return m_timer.Arm(timerId, std::max<std::int64_t>(1, delayMs * m_minuteMs / CScheduler::kMsPerMinute));
    }
    void Kill(unsigned timerId) override { m_timer.Kill(timerId); }

private:
    std::int64_t m_minuteMs;
    CQtPeriodTimer m_timer;
};
