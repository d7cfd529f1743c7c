#include "CCheckRun.h"

#include "AbortableThread.h"
#include "CItem.h"
#include "CItemList.h"
#include "CheckLog.h"
#include "DescriptorLimit.h"
#include "ProbePass.h"
#include "UniqueFd.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

std::atomic<int> g_bAllOk{1};
CItemList* g_pItemList = nullptr;

// What the run and its worker share. The worker keeps its own reference, so a stopped worker
// that is still unwinding never outlives it.
struct CheckRunShared {
    CItemList* list = nullptr;
    std::size_t maxInFlight = ProbePass::kDefaultMaxInFlight;
    ProbeSettings settings;
    int logMode = 0;
    std::string logPath; // empty: no log
    std::string uplink;  // probed beside the entries when set
    UniqueFd notify{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    std::atomic<bool> workerDone{false};
    std::atomic<std::size_t> finishedCount{0}; // probes ended, in any order

    // A log line for the worker to write once it no longer holds the mutex: a log on a hung
    // file system must stall only the worker, never a hand-over or Cancel.
    struct LogLine {
        CItem item; // the fields the line shows, copied: the list may be gone by the write
        int result;
    };

    // Guards the list entries, g_bAllOk, the outcomes, pending and unlogged against the run
    // abandoning the worker. Held only for bookkeeping, never across a write or a probe.
    std::mutex mutex;
    bool abandoned = false;
    std::vector<std::optional<ProbeOutcome>> outcomes; // per row, once its probe has ended
    std::vector<std::int64_t> endedAt;                 // per row: when its probe ended (epoch seconds)
    std::vector<std::size_t> ended;                    // rows ended, in that order, not yet reported
    std::size_t nextToRecord = 0;                      // rows before it are recorded
    std::vector<std::pair<std::size_t, int>> pending;  // rows recorded, not yet delivered
    bool woken = false;                                // a wake-up waits for Deliver
    std::vector<LogLine> unlogged;                     // recorded, for the worker to log
    std::optional<bool> uplinkAnswered;                // once the uplink's probe has ended
    ProbeFailure uplinkFailure = ProbeFailure::unknown;

    // Records every row whose probe has ended and whose predecessors are all recorded, so the
    // entries, the log and the caller see results in list order. With `skipUnfinished` (after
    // a cancel) the rows still under way are passed over instead and keep their results.
    void RecordInOrder(bool skipUnfinished);

    void Signal() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(notify.Get(), &one, sizeof one);
    }

    // One wake-up per Deliver, however many probes end meanwhile; under the mutex.
    void Wake() {
        if (!woken) {
            woken = true;
            Signal();
        }
    }

    // Worker only, without the mutex: appends the lines recorded so far to the log.
    void WriteLog() {
        std::vector<LogLine> lines;
        {
            std::lock_guard<std::mutex> lock(mutex);
            lines.swap(unlogged);
        }
        for (const LogLine& line : lines)
            AppendCheckLog(logPath, line.item, line.result);
    }
};

namespace {

std::atomic<bool> s_runInProgress{false};

// The hand-over to the worker routine, which takes no argument: the run it is to do. Also
// guards g_pItemList.
std::mutex s_handOverMutex;
std::shared_ptr<CheckRunShared> s_handOver;

// Ends the hand-over of a finished run: a worker that never took it up finds nothing.
void ReleaseHandOver() {
    std::lock_guard<std::mutex> lock(s_handOverMutex);
    g_pItemList = nullptr;
    s_handOver.reset();
}

// RunBlocking hands rows over at most this often, so that a run of fast probes does not pay
// a thread switch per row; people do not notice a 10 ms delay in the rows they see.
constexpr int kDeliverIntervalMs = 10;

bool WantsLogLine(int logMode, const std::string& logPath, int result) {
    if (logPath.empty())
        return false;
    return logMode == 2 || (logMode == 1 && result == 0);
}

// The worker's leaving, also by a stop: the lines recorded up to the cancel are logged, then
// the run learns that the worker is done.
struct WorkerExit {
    CheckRunShared& shared;
    ~WorkerExit() {
        try {
            shared.WriteLog();
        } catch (...) {
            // Out of memory while unwinding: the lines are lost, the run still hears of the end.
        }
        shared.workerDone = true;
        shared.Signal();
    }
};

std::vector<PassEntry> CopyEntries(const CItemList& list) {
    std::vector<PassEntry> entries;
    entries.reserve(list.GetCount());
    list.ForEach([&](const CItem& item) { entries.push_back({item.m_bConnect, item.m_strAddress, item.m_nPort}); });
    return entries;
}

// Takes up the run that started this worker, with the list it walks.
std::shared_ptr<CheckRunShared> TakeHandOver(CItemList*& list) {
    std::lock_guard<std::mutex> lock(s_handOverMutex);
    // A worker stopped before it got here must not take up a later run's state.
    AbortableCheckpoint();
    list = g_pItemList;
    return std::exchange(s_handOver, nullptr);
}

void ProbeAndRecord(CheckRunShared& shared, const CItemList& list) {
    std::vector<PassEntry> entries;
    {
        std::lock_guard<std::mutex> lock(shared.mutex);
        if (shared.abandoned)
            return;
        // The probes work on copies, so the run may be cancelled and the list freed meanwhile.
        entries = CopyEntries(list);
        shared.outcomes.assign(entries.size(), std::nullopt);
        shared.endedAt.assign(entries.size(), 0);
    }
    // The uplink is one more echo of the pass, started first; it is no row of the list.
    const std::size_t first = shared.uplink.empty() ? 0 : 1; // the index of row 0 in the pass
    if (!shared.uplink.empty())
        entries.insert(entries.begin(), {0, shared.uplink, 0});
    const auto onDone = [&shared, first](std::size_t index, const ProbeOutcome& outcome) {
        {
            std::lock_guard<std::mutex> lock(shared.mutex);
            if (shared.abandoned)
                return;
            if (index < first) {
                shared.uplinkAnswered = outcome.result != 0;
                shared.uplinkFailure = outcome.result != 0 ? ProbeFailure::unknown : outcome.failure;
                return;
            }
            const std::size_t row = index - first;
            shared.outcomes[row] = outcome;
            shared.endedAt[row] = static_cast<std::int64_t>(std::time(nullptr));
            shared.ended.push_back(row);
            ++shared.finishedCount;
            shared.RecordInOrder(false);
            // Also when nothing could be recorded yet: the caller's progress moves on.
            shared.Wake();
        }
        shared.WriteLog();
    };
    ProbePass pass(std::move(entries), shared.maxInFlight, onDone, shared.settings);
    pass.Run();
}

} // namespace

unsigned int CheckThreadProc(void*) {
    CItemList* list = nullptr;
    const std::shared_ptr<CheckRunShared> shared = TakeHandOver(list);
    if (!shared)
        return 0;
    WorkerExit exit{*shared};
    // The list is read only under the run's mutex: a run cancelled meanwhile may have freed it.
    if (list)
        ProbeAndRecord(*shared, *list);
    return 0;
}

void CheckRunShared::RecordInOrder(bool skipUnfinished) {
    for (; nextToRecord < outcomes.size(); ++nextToRecord) {
        const std::optional<ProbeOutcome>& outcome = outcomes[nextToRecord];
        if (!outcome) {
            if (skipUnfinished)
                continue;
            break;
        }
        CItem& item = list->GetAt(nextToRecord);
        item.m_bResult = outcome->result;
        item.m_nLastRoundTripUs = outcome->roundTripUs;
        item.m_nLastFailure = outcome->failure;
        item.m_tLastProbe = endedAt[nextToRecord]; // the probe's own end, not its turn in the list
        item.m_lastStats = outcome->stats;
        item.m_bLastDegraded = IsDegraded(outcome->result, outcome->stats, settings);
        if (outcome->result == 0)
            g_bAllOk = 0;
        if (WantsLogLine(logMode, logPath, outcome->result)) {
            LogLine line{{}, outcome->result};
            line.item.m_strAddress = item.m_strAddress;
            line.item.m_bConnect = item.m_bConnect;
            line.item.m_nPort = item.m_nPort;
            unlogged.push_back(std::move(line));
        }
        pending.emplace_back(nextToRecord, outcome->result);
    }
}

CCheckRun::CCheckRun() : m_maxInFlight(ProbePass::kDefaultMaxInFlight) {}

CCheckRun::~CCheckRun() {
    if (m_thread)
        Finish();
}

bool CCheckRun::Start(CItemList& list, StatusFn onStatus) {
    if (m_thread || s_runInProgress.exchange(true))
        return false;
    RaiseDescriptorLimit();
    auto shared = std::make_shared<CheckRunShared>();
    if (!shared->notify) {
        s_runInProgress = false;
        return false;
    }
    shared->list = &list;
    shared->maxInFlight = m_maxInFlight;
    shared->settings = m_settings;
    shared->logMode = list.m_nLogMode;
    shared->logPath = list.m_strLogFile;
    shared->uplink = m_uplink;
    m_uplinkAnswered.reset();
    m_uplinkFailure = ProbeFailure::unknown;
    g_bAllOk = 1;
    {
        std::lock_guard<std::mutex> lock(s_handOverMutex);
        g_pItemList = &list;
        s_handOver = shared;
    }
    m_thread.reset(StartAbortableThread(0, CheckThreadProc, nullptr));
    if (!m_thread) {
        ReleaseHandOver();
        s_runInProgress = false;
        return false;
    }
    m_shared = std::move(shared);
    m_onStatus = std::move(onStatus);
    m_stopped = false;
    return true;
}

int CCheckRun::NotifyFd() const {
    return m_shared ? m_shared->notify.Get() : -1;
}

bool CCheckRun::Deliver() {
    if (!m_shared)
        return false;
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(m_shared->notify.Get(), &count, sizeof count);
    std::vector<std::pair<std::size_t, int>> rows;
    std::vector<std::tuple<std::size_t, ProbeOutcome, std::int64_t>> ended;
    {
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        rows.swap(m_shared->pending);
        m_shared->woken = false;
        if (m_onEnded) {
            for (std::size_t row : m_shared->ended)
                ended.emplace_back(row, *m_shared->outcomes[row], m_shared->endedAt[row]);
        }
        m_shared->ended.clear();
    }
    for (const auto& [row, outcome, when] : ended)
        m_onEnded(row, outcome, when);
    if (m_onStatus) {
        for (const auto& [row, result] : rows)
            m_onStatus(row, m_shared->list->GetAt(row), result);
    }
    const std::size_t finished = m_shared->finishedCount;
    if (m_onProgress && finished != m_reportedProgress) {
        m_reportedProgress = finished;
        m_onProgress(finished, m_shared->list->GetCount());
    }
    return IsRunning();
}

std::size_t CCheckRun::FinishedCount() const {
    return m_shared ? m_shared->finishedCount.load() : 0;
}

bool CCheckRun::IsRunning() const {
    return m_shared && !m_shared->workerDone;
}

void CCheckRun::Cancel() {
    if (!m_shared)
        return;
    {
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        // What ended before the cancel counts; the probes still under way get nothing.
        if (!m_shared->abandoned)
            m_shared->RecordInOrder(true);
        m_shared->abandoned = true;
    }
    // The worker may be blocked in a probe: interrupt it (once) rather than wait.
    if (!m_stopped && IsRunning() && IsAbortableThreadRunning(m_thread->hThread)) {
        StopAbortableThread(m_thread.get());
        m_stopped = true;
    }
}

std::optional<bool> CCheckRun::UplinkAnswered() const {
    if (m_uplinkFailure == ProbeFailure::noPermission || m_uplinkFailure == ProbeFailure::hostNotFound)
        return std::nullopt;
    return m_uplinkAnswered;
}

int CCheckRun::Finish() {
    if (!m_thread)
        return g_bAllOk;
    Cancel();
    Deliver();
    {
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        m_uplinkAnswered = m_shared->uplinkAnswered;
        m_uplinkFailure = m_shared->uplinkFailure;
    }
    m_thread.reset();
    m_shared.reset();
    m_onStatus = nullptr;
    m_reportedProgress = 0;
    ReleaseHandOver(); // the caller may free the list now
    s_runInProgress = false;
    return g_bAllOk;
}

int CCheckRun::RunBlocking(CItemList& list, StatusFn onStatus, int cancelFd) {
    if (!Start(list, std::move(onStatus)))
        return -1;
    pollfd fds[2] = {{NotifyFd(), POLLIN, 0}, {cancelFd, POLLIN, 0}};
    const nfds_t count = cancelFd >= 0 ? 2 : 1;
    for (;;) {
        if (::poll(fds, count, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (count == 2 && fds[1].revents != 0) {
            Cancel();
            break;
        }
        if (!Deliver())
            break;
        // With every row in, only the worker's end is left: wait for that alone.
        if (FinishedCount() >= m_shared->list->GetCount())
            continue;
        // Let rows gather, while still answering a cancel at once.
        if (count == 2) {
            ::poll(&fds[1], 1, kDeliverIntervalMs);
        } else {
            ::poll(nullptr, 0, kDeliverIntervalMs);
        }
    }
    return Finish();
}
