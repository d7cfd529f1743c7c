#include "CCheckRun.h"

#include "AbortableThread.h"
#include "CItem.h"
#include "CItemList.h"
#include "CheckLog.h"
#include "Probe.h"
#include "UniqueFd.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

std::atomic<int> g_bAllOk{1};
CItemList* g_pItemList = nullptr;

// What the run and its worker share. The worker keeps its own reference, so a stopped worker
// that is still unwinding never outlives it.
struct CheckRunShared {
    CItemList* list = nullptr;
    UniqueFd notify{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    std::atomic<bool> workerDone{false};

    // Guards the list entries, g_bAllOk and pending against the run abandoning the worker.
    std::mutex mutex;
    bool abandoned = false;
    std::vector<std::pair<std::size_t, int>> pending; // rows probed, not yet delivered

    void Signal() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(notify.Get(), &one, sizeof one);
    }
};

namespace {

std::atomic<bool> s_runInProgress{false};

// RunBlocking hands rows over at most this often, so that a run of fast probes does not pay
// a thread switch per row; people do not notice a 10 ms delay in the rows they see.
constexpr int kDeliverIntervalMs = 10;

bool WantsLogLine(const CItemList& list, int result) {
    if (list.m_strLogFile.empty())
        return false;
    return list.m_nLogMode == 2 || (list.m_nLogMode == 1 && result == 0);
}

// Everything that follows a probe, for one entry.
void RecordResult(CItemList& list, CItem& item, int result) {
    if (result == 0)
        g_bAllOk = 0;
    if (WantsLogLine(list, result))
        AppendCheckLog(list.m_strLogFile, item, result);
}

// Tells the run that the worker is done, also when it leaves by a stop.
struct DoneNotice {
    CheckRunShared* shared;
    ~DoneNotice() {
        if (shared) {
            shared->workerDone = true;
            shared->Signal();
        }
    }
};

unsigned int WalkAlone(CItemList& list) {
    for (std::size_t row = 0; row < list.GetCount(); ++row) {
        AbortableCheckpoint();
        CItem& item = list.GetAt(row);
        RecordResult(list, item, item.Check());
    }
    return 0;
}

} // namespace

unsigned int CheckThreadProc(void* run) {
    auto* shared = static_cast<CheckRunShared*>(run);
    if (!shared)
        return g_pItemList ? WalkAlone(*g_pItemList) : 0;

    DoneNotice done{shared};
    CItemList& list = *shared->list;
    for (std::size_t row = 0;; ++row) {
        AbortableCheckpoint();
        std::int32_t connect = 0;
        std::int32_t port = 0;
        std::string address;
        {
            std::lock_guard<std::mutex> lock(shared->mutex);
            if (shared->abandoned || row >= list.GetCount())
                return 0;
            const CItem& item = list.GetAt(row);
            connect = item.m_bConnect;
            port = item.m_nPort;
            address = item.m_strAddress;
        }
        // The probe works on copies, so the run may be cancelled and the list freed meanwhile.
        const ProbeOutcome outcome = ProbeConnection(connect, address, port);
        std::lock_guard<std::mutex> lock(shared->mutex);
        if (shared->abandoned)
            return 0;
        CItem& item = list.GetAt(row);
        item.m_bResult = outcome.result;
        item.m_nLastRoundTripUs = outcome.roundTripUs;
        RecordResult(list, item, outcome.result);
        // One wake-up per batch: the caller takes every pending row when it wakes.
        shared->pending.emplace_back(row, outcome.result);
        if (shared->pending.size() == 1)
            shared->Signal();
    }
}

CCheckRun::CCheckRun() = default;

CCheckRun::~CCheckRun() {
    if (m_thread)
        Finish();
}

bool CCheckRun::IsAnyRunInProgress() {
    return s_runInProgress;
}

bool CCheckRun::Start(CItemList& list, StatusFn onStatus) {
    if (m_thread || s_runInProgress.exchange(true))
        return false;
    auto shared = std::make_shared<CheckRunShared>();
    if (!shared->notify) {
        s_runInProgress = false;
        return false;
    }
    shared->list = &list;
    g_bAllOk = 1;
    g_pItemList = &list;
    m_thread.reset(StartAbortableThread([shared] { return CheckThreadProc(shared.get()); }));
    if (!m_thread) {
        g_pItemList = nullptr;
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
    {
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        rows.swap(m_shared->pending);
    }
    if (m_onStatus) {
        for (const auto& [row, result] : rows)
            m_onStatus(row, m_shared->list->GetAt(row), result);
    }
    return IsRunning();
}

bool CCheckRun::IsRunning() const {
    return m_shared && !m_shared->workerDone;
}

void CCheckRun::Cancel() {
    if (!m_shared)
        return;
    {
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        m_shared->abandoned = true;
    }
    // The worker may be blocked in a probe: interrupt it (once) rather than wait.
    if (!m_stopped && IsRunning() && IsAbortableThreadRunning(m_thread->hThread)) {
        StopAbortableThread(m_thread.get());
        m_stopped = true;
    }
}

int CCheckRun::Finish() {
    if (!m_thread)
        return g_bAllOk;
    Cancel();
    Deliver();
    m_thread.reset();
    m_shared.reset();
    m_onStatus = nullptr;
    g_pItemList = nullptr; // the caller may free the list now
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
        // Let rows gather, while still answering a cancel at once.
        if (count == 2) {
            ::poll(&fds[1], 1, kDeliverIntervalMs);
        } else {
            ::poll(nullptr, 0, kDeliverIntervalMs);
        }
    }
    return Finish();
}
