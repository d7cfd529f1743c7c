#pragma once

#include "Probe.h"
#include "ProbeSettings.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class CItem;
class CItemList;

// One check run as the window drives it (see core/CCheckRun.h, which the desktop uses);
// tests put a scripted run in its place.
class ICheckRunner {
public:
    using StatusFn = std::function<void(std::size_t row, const CItem& item, int result)>;

    // A probe has ended (rows in the order their probes end, ahead of the list-order report).
    using EndedFn = std::function<void(std::size_t row, const ProbeOutcome& outcome, std::int64_t endedAt)>;

    virtual ~ICheckRunner() = default;
    // For the next Start: who hears of each probe as it ends.
    virtual void SetEndedFn(EndedFn onEnded) = 0;
    // For the next Start: how each entry is probed, and what reads as degraded.
    virtual void SetProbeSettings(const ProbeSettings&) {}
    // For the next Start: a host echoed beside the entries (the uplink); none when empty.
    virtual void SetUplink(std::string) {}
    // After Finish: whether the uplink answered; none when unset or not probed to its end.
    virtual std::optional<bool> UplinkAnswered() const { return std::nullopt; }
    // Starts the worker over the list; false when it could not start.
    virtual bool Start(CItemList& list, StatusFn onStatus) = 0;
    // Readable while rows or progress wait for Deliver() or once the worker has ended.
    virtual int NotifyFd() const = 0;
    // Hands finished rows to onStatus; true while the worker still runs.
    virtual bool Deliver() = 0;
    virtual bool IsRunning() const = 0;
    // Entries whose probes have ended so far, in any order (for the progress bar).
    virtual std::size_t FinishedCount() const = 0;
    // Stops the worker wherever it is, without waiting.
    virtual void Cancel() = 0;
    // Stops a worker that still runs, delivers what was finished, returns the run's result.
    virtual int Finish() = 0;
};
