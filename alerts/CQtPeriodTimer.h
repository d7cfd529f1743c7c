#pragma once

#include "IPeriodTimer.h"

#include <QDeadlineTimer>
#include <QTimer>

#include <cstdint>
#include <limits>
#include <map>
#include <memory>

// IPeriodTimer on QTimer. A QTimer holds at most INT_MAX ms (about 24.8 days) while a period may
// be 100000 minutes, so a long delay is waited out in single-shot steps towards one deadline on
// the monotonic clock: the steps cannot add up drift, and the tick never comes early.
class CQtPeriodTimer final : public IPeriodTimer {
public:
    static constexpr std::int64_t kMaxStepMs = std::numeric_limits<int>::max();

    // maxStepMs is the longest single wait; tests shorten it to exercise the chaining.
    explicit CQtPeriodTimer(std::int64_t maxStepMs = kMaxStepMs);
    ~CQtPeriodTimer() override;
    CQtPeriodTimer(const CQtPeriodTimer&) = delete;
    CQtPeriodTimer& operator=(const CQtPeriodTimer&) = delete;

    unsigned Arm(unsigned timerId, std::int64_t delayMs) override;
    void Kill(unsigned timerId) override;

    // The next single wait towards a deadline remainingMs away.
    static std::int64_t NextStepMs(std::int64_t remainingMs, std::int64_t maxStepMs);

private:
    struct Slot {
        QTimer timer;
        QDeadlineTimer deadline;
    };

    void OnStep(unsigned timerId);
    void StartStep(Slot& slot);

    std::int64_t m_maxStepMs;
    // Slots are kept once created: a tick handler may kill or re-arm its own timer while the
    // timer's signal is still being delivered.
    std::map<unsigned, std::unique_ptr<Slot>> m_slots;
};
