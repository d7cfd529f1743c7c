#pragma once

#include <exception>
#include <utility>

// Unattended work (a check run, one alert, the re-arming of the period timer) runs inside a timer
// tick or a button's handler, where an exception would end the program or leave the schedule
// dead. Such a step is run contained: whatever it throws is written to standard error as one
// line naming the step, and the caller goes on with the next step.
namespace alerts {

// Writes "<program>: <step> ended with an error: <what>" as one line to standard error.
void ReportStepError(const char* step, const char* what) noexcept;

// Runs body; returns true when it ran to its end, false when it threw (after reporting it).
template <class Body>
bool RunContained(const char* step, Body&& body) noexcept {
    try {
        std::forward<Body>(body)();
        return true;
    } catch (const std::exception& error) {
        ReportStepError(step, error.what());
    } catch (...) {
        ReportStepError(step, "unknown exception");
    }
    return false;
}

} // namespace alerts
