#pragma once

#include <cstdint>
#include <functional>

// A one-shot timer source. Arm() returns the timer identifier (nonzero) or 0 when it could not
// be armed; delays longer than a single platform timer can hold are waited out in steps.
// Arming an identifier that is already armed replaces its delay.
class IPeriodTimer {
public:
    virtual ~IPeriodTimer() = default;
    virtual unsigned Arm(unsigned timerId, std::int64_t delayMs) = 0;
    virtual void Kill(unsigned timerId) = 0;
    // Set by CScheduler: called with the identifier when an armed timer falls due.
    std::function<void(unsigned timerId)> onTick;
};
