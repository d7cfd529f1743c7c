#pragma once

#include "CQtPeriodTimer.h"
#include "CScheduler.h"

#include <algorithm>
#include <cstdint>

// The period timer with every minute shortened to minuteMs, so a schedule of minutes can be run
// through in seconds (tests, benchmarks). A delay never shrinks below 1 ms. A minute is never
// lengthened: minuteMs above a real minute counts as one, so no scaled delay can overflow.
class CScaledPeriodTimer final : public IPeriodTimer {
public:
    explicit CScaledPeriodTimer(std::int64_t minuteMs)
        : m_minuteMs(std::clamp<std::int64_t>(minuteMs, 1, CScheduler::kMsPerMinute)) {
        m_timer.onTick = [this](unsigned timerId) {
            // A copy: the handler may run nested event loops in which this timer goes away.
            if (const auto tick = onTick)
                tick(timerId);
        };
    }
    unsigned Arm(unsigned timerId, std::int64_t delayMs) override {
        // Whole minutes and the rest apart: neither product can exceed the delay itself.
        const std::int64_t minutes = delayMs / CScheduler::kMsPerMinute;
        const std::int64_t rest = delayMs % CScheduler::kMsPerMinute;
        const std::int64_t scaled = minutes * m_minuteMs + rest * m_minuteMs / CScheduler::kMsPerMinute;
        return m_timer.Arm(timerId, std::max<std::int64_t>(1, scaled));
    }
    void Kill(unsigned timerId) override { m_timer.Kill(timerId); }

private:
    std::int64_t m_minuteMs;
    CQtPeriodTimer m_timer;
};
