#pragma once

#include "AbortableThread.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>

class CItem;
class CItemList;
struct CheckRunShared;

// The process-wide state of the one check run that may be in progress.
extern std::atomic<int> g_bAllOk; // 1 until a probe of the current run fails
extern CItemList* g_pItemList;    // the list the worker walks

// The worker routine: probes every entry in list order, clears g_bAllOk on a failure, logs as
// the list asks and reports each probed row. run is the run's shared state (given by
// CCheckRun); with null it walks g_pItemList on its own, reporting nothing. Returns 0.
unsigned int CheckThreadProc(void* run);

// Drives one check run: starts the worker on an abortable thread, hands each finished row
// back to the caller's thread, and cancels on request. Shared by the window and the
// headless companion. Only one run may exist in the process at a time.
class CCheckRun {
public:
    // Called on the caller's thread (inside Deliver/Finish) for each probed row, in order.
    using StatusFn = std::function<void(std::size_t row, const CItem& item, int result)>;

    CCheckRun();
    ~CCheckRun(); // cancels and finishes a run still in progress
    CCheckRun(const CCheckRun&) = delete;
    CCheckRun& operator=(const CCheckRun&) = delete;

    // True while any run exists in the process.
    static bool IsAnyRunInProgress();

    // Sets the run state and starts the worker over list. Returns false (and starts nothing)
    // when another run is in progress or the thread cannot be started. The list must not
    // change until Finish has returned.
    bool Start(CItemList& list, StatusFn onStatus);

    // A descriptor that becomes readable when rows wait for Deliver() or the worker has ended.
    // Callers sleep on it (poll, QSocketNotifier) instead of spinning.
    int NotifyFd() const;

    // Hands the rows finished so far to onStatus; returns true while the worker still runs.
    bool Deliver();

    bool IsRunning() const;

    // Stops the worker by force wherever it is; does not wait for it to unwind. From the moment
    // Cancel returns the worker touches neither the list nor g_bAllOk again: an entry whose
    // probe was under way gets no result, no status, no log line and does not count.
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
    bool m_stopped = false;
};
