#include "CQtPeriodTimer.h"

#include <algorithm>

namespace {
constexpr std::int64_t kNsPerMs = 1000000;
}

// QTimer takes its interval as an int: a longer step would overflow it.
CQtPeriodTimer::CQtPeriodTimer(std::int64_t maxStepMs)
    : m_maxStepMs(std::clamp<std::int64_t>(maxStepMs, 1, kMaxStepMs)) {}

CQtPeriodTimer::~CQtPeriodTimer() = default;

std::int64_t CQtPeriodTimer::NextStepMs(std::int64_t remainingMs, std::int64_t maxStepMs) {
    return std::clamp<std::int64_t>(remainingMs, 0, std::max<std::int64_t>(1, maxStepMs));
}

unsigned CQtPeriodTimer::Arm(unsigned timerId, std::int64_t delayMs) {
    if (timerId == 0)
        return 0;
    auto& slot = m_slots[timerId];
    if (!slot) {
        slot = std::make_unique<Slot>();
        slot->timer.setSingleShot(true);
        slot->timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&slot->timer, &QTimer::timeout, &slot->timer, [this, timerId] { OnStep(timerId); });
    }
    slot->deadline = QDeadlineTimer(std::max<std::int64_t>(0, delayMs), Qt::PreciseTimer);
    StartStep(*slot);
    return timerId;
}

void CQtPeriodTimer::Kill(unsigned timerId) {
    const auto it = m_slots.find(timerId);
    if (it != m_slots.end())
        it->second->timer.stop();
}

void CQtPeriodTimer::StartStep(Slot& slot) {
    // Round the rest up to whole milliseconds so the last step never ends before the deadline.
    const std::int64_t remainingNs = slot.deadline.remainingTimeNSecs();
    const std::int64_t remainingMs = (remainingNs + kNsPerMs - 1) / kNsPerMs;
    slot.timer.start(static_cast<int>(NextStepMs(remainingMs, m_maxStepMs)));
}

void CQtPeriodTimer::OnStep(unsigned timerId) {
    Slot& slot = *m_slots.at(timerId);
    if (!slot.deadline.hasExpired()) {
        StartStep(slot);
        return;
    }
    // A copy: the handler may run nested event loops in which the owner of this timer goes away.
    if (const auto tick = onTick)
        tick(timerId);
}
