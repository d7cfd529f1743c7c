#include "ScriptedCheckRunner.h"

#include <ctime>

#include "CItemList.h"

#include <QTimer>
#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

std::function<std::unique_ptr<ICheckRunner>()> ScriptedRuns::Factory() {
    return [this] { return std::make_unique<ScriptedCheckRunner>(*this); };
}

ScriptedCheckRunner::ScriptedCheckRunner(ScriptedRuns& script)
    : m_script(script), m_fd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

ScriptedCheckRunner::~ScriptedCheckRunner() {
    if (m_fd >= 0)
        close(m_fd);
}

bool ScriptedCheckRunner::Start(CItemList& list, StatusFn onStatus) {
    if (m_script.failToStart)
        return false;
    m_list = &list;
    m_onStatus = std::move(onStatus);
    m_running = true;
    ++m_script.started;
    if (!m_script.endFirst.empty()) {
        m_ended = m_script.endFirst;
        Signal();
    }
    for (std::size_t i = 0; i < m_script.finishedAtStart && m_next < m_list->GetCount(); ++i)
        CompleteRow();
    QTimer::singleShot(m_script.stepMs, &m_timers, [this] { CompleteNext(); });
    if (m_script.onStarted)
        m_script.onStarted();
    return true;
}

void ScriptedCheckRunner::CompleteNext() {
    if (!m_running)
        return;
    if (m_next >= m_list->GetCount()) {
        m_running = false;
        Signal();
        return;
    }
    if (!CompleteRow())
        return; // the probe never answers; only a cancel ends the run
    QTimer::singleShot(m_script.stepMs, &m_timers, [this] { CompleteNext(); });
}

bool ScriptedCheckRunner::CompleteRow() {
    const int outcome = m_next < m_script.outcomes.size() ? m_script.outcomes[m_next] : 1;
    if (outcome == ScriptedRuns::kHang)
        return false;
    CItem& entry = m_list->GetAt(m_next);
    entry.m_bResult = outcome;
    entry.m_nLastRoundTripUs = outcome ? m_script.roundTripUs : -1;
    entry.m_nLastFailure = outcome                             ? ProbeFailure::unknown
                           : m_next < m_script.failures.size() ? m_script.failures[m_next]
                                                               : ProbeFailure::timedOut;
    entry.m_tLastProbe = static_cast<std::int64_t>(std::time(nullptr));
    if (outcome == 0)
        m_allOk = 0;
    m_pending.emplace_back(m_next, outcome);
    ++m_next;
    Signal();
    return true;
}

void ScriptedCheckRunner::Signal() {
    const std::uint64_t one = 1;
    (void)!write(m_fd, &one, sizeof one);
}

bool ScriptedCheckRunner::Deliver() {
    std::uint64_t count = 0;
    (void)!read(m_fd, &count, sizeof count);
    auto ended = std::move(m_ended);
    m_ended.clear();
    for (std::size_t row : ended) {
        const int outcome = row < m_script.outcomes.size() ? m_script.outcomes[row] : 1;
        if (m_onEnded && outcome != ScriptedRuns::kHang)
            m_onEnded(row, ProbeOutcome{outcome, outcome ? m_script.roundTripUs : -1, ProbeFailure::timedOut},
                      m_script.endedAt);
    }
    auto pending = std::move(m_pending);
    m_pending.clear();
    for (const auto& [row, result] : pending)
        m_onStatus(row, m_list->GetAt(row), result);
    return m_running;
}

void ScriptedCheckRunner::Cancel() {
    if (m_running)
        ++m_script.cancelled;
    m_running = false;
}

int ScriptedCheckRunner::Finish() {
    Cancel();
    Deliver();
    ++m_script.finished;
    return m_allOk;
}
