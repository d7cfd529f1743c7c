#pragma once

#include "AbortableThread.h"
#include "Probe.h"
#include "ProbeSettings.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

class CItem;
class CItemList;
struct CheckRunShared;

// The process-wide state of the one check run that may be in progress.
extern std::atomic<int> g_bAllOk; // 1 until a probe of the current run fails
extern CItemList* g_pItemList;    // the list the worker walks

// The worker routine, started by CCheckRun::Start with a null argument, which it ignores: takes
// up the run being started and probes every entry of g_pItemList, many at once, recording the
// results in list order: each entry's result, g_bAllOk cleared on a failure, a log line as the
// list asks (written by this routine alone, outside every lock the caller's thread takes), and
// each row reported. Returns 0.
unsigned int CheckThreadProc(void*);

// Drives one check run: starts the worker on an abortable thread, hands each finished row
// back to the caller's thread, and cancels on request. Shared by the window and the
// headless companion. Only one run may exist in the process at a time.
class CCheckRun {
public:
    // Called on the caller's thread (inside Deliver/Finish) for each probed row, in list order.
    // Only after a cancel are rows left out: those whose probes were still under way.
    using StatusFn = std::function<void(std::size_t row, const CItem& item, int result)>;

    // Called on the caller's thread (inside Deliver) when more probes have ended, in any order.
    using ProgressFn = std::function<void(std::size_t finished, std::size_t total)>;

    // Called on the caller's thread (inside Deliver) for each probe that has ended since, in the
    // order they ended, before its row is recorded: the outcome and when it ended (epoch seconds).
    using EndedFn = std::function<void(std::size_t row, const ProbeOutcome& outcome, std::int64_t endedAt)>;

    CCheckRun();
    ~CCheckRun(); // cancels and finishes a run still in progress
    CCheckRun(const CCheckRun&) = delete;
    CCheckRun& operator=(const CCheckRun&) = delete;

    // Probes in flight at once in the runs started from now on (at least 1).
    void SetMaxInFlight(std::size_t count) { m_maxInFlight = count; }

    // How the runs started from now on probe each entry, and what reads as degraded.
    void SetProbeSettings(const ProbeSettings& settings) { m_settings = settings; }

    // For the runs started from now on: a host whose ICMP echo goes out beside the entries' probes,
    // the monitor's own way to the network (its uplink); none when empty.
    void SetUplink(std::string host) { m_uplink = std::move(host); }

    // Whether the uplink answered in the last run that Finish ended; none when no uplink was set,
    // its probe had not ended (a cancelled run), or its failure says nothing of the link: an echo
    // this program may not send, a name that does not resolve. Only a silent uplink cuts a pass off.
    std::optional<bool> UplinkAnswered() const;
    // Why the uplink's probe of that run failed (unknown when it answered or did not end).
    ProbeFailure UplinkFailure() const { return m_uplinkFailure; }

    // Progress reports for the runs started from now on; none by default.
    void SetProgressFn(ProgressFn onProgress) { m_onProgress = std::move(onProgress); }

    // Reports of probes as they end for the runs started from now on; none by default.
    void SetEndedFn(EndedFn onEnded) { m_onEnded = std::move(onEnded); }

    // Sets the run state and starts the worker over list. Returns false (and starts nothing)
    // when another run is in progress or the thread cannot be started. The list must not
    // change until Finish has returned.
    bool Start(CItemList& list, StatusFn onStatus);

    // A descriptor that becomes readable when rows or progress wait for Deliver() or the worker
    // has ended.
    // Callers sleep on it (poll, QSocketNotifier) instead of spinning.
    int NotifyFd() const;

    // Hands the rows finished so far to onStatus; returns true while the worker still runs.
    bool Deliver();

    bool IsRunning() const;

    // Entries whose probes have ended so far, in whatever order they ended: for progress.
    std::size_t FinishedCount() const;

    // Stops the worker by force wherever it is; does not wait for it to unwind. Every probe that
    // had ended counts and is recorded (in list order) now; an entry whose probe was still under
    // way gets no result, no status, no log line and does not count. From the moment Cancel
    // returns the worker touches neither the list nor g_bAllOk again; it writes the log lines
    // of the recorded entries as it leaves. Never waits for a log write.
    void Cancel();

    // Ends the run: stops a worker that still runs, delivers what was finished, releases the
    // thread and returns g_bAllOk (1 when every probe that ran answered).
    int Finish();

    // Start, sleep until the worker is done or cancelFd (when not -1) becomes readable, which
    // cancels, then Finish. Returns -1 when the run could not start, else the run's result.
    // For callers without an event loop.
    int RunBlocking(CItemList& list, StatusFn onStatus, int cancelFd = -1);

private:
    std::shared_ptr<CheckRunShared> m_shared;
    AbortableThreadPtr m_thread;
    StatusFn m_onStatus;
    ProgressFn m_onProgress;
    EndedFn m_onEnded;
    std::size_t m_reportedProgress = 0;
    std::size_t m_maxInFlight;
    ProbeSettings m_settings;
    std::string m_uplink;
    std::optional<bool> m_uplinkAnswered;
    ProbeFailure m_uplinkFailure = ProbeFailure::unknown;
    bool m_stopped = false;
};
