#pragma once

#include "IPeriodTimer.h"

#include <cstdint>
#include <map>
#include <new>
#include <utility>
#include <vector>

// A timer the test drives by hand: it records every request and ticks only when told.
class FakePeriodTimer final : public IPeriodTimer {
public:
    struct Request {
        unsigned timerId;
        std::int64_t delayMs;
    };

    unsigned Arm(unsigned timerId, std::int64_t delayMs) override {
        arms.push_back({timerId, delayMs});
        if (throwOnArm)
            throw std::bad_alloc();
        if (failArming)
            return 0;
        armed[timerId] = delayMs;
        return timerId;
    }
    void Kill(unsigned timerId) override {
        kills.push_back(timerId);
        armed.erase(timerId);
    }

    bool IsArmed(unsigned timerId = 1) const { return armed.count(timerId) != 0; }
    std::int64_t LastDelay() const { return arms.empty() ? -1 : arms.back().delayMs; }

    // Lets an armed timer fall due (one-shot: it is disarmed first). Returns false when the
    // timer was not armed, so nothing ticked.
    bool Fire(unsigned timerId = 1) {
        if (!IsArmed(timerId))
            return false;
        armed.erase(timerId);
        if (onTick)
            onTick(timerId);
        return true;
    }
    // A tick the scheduler did not ask for (another timer of the window).
    void FireForeign(unsigned timerId) {
        if (onTick)
            onTick(timerId);
    }

    std::vector<Request> arms;
    std::vector<unsigned> kills;
    std::map<unsigned, std::int64_t> armed;
    bool failArming = false;
    bool throwOnArm = false; // as a timer that cannot allocate its state would
};
