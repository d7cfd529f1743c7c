#pragma once

#include "ICheckRunner.h"
#include "ProbeFailure.h"

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Check runs played from a script on the test's own event loop: row i finishes stepMs after
// row i-1 with outcomes[i] (1 answered, 0 not, kHang never). Reports through a real eventfd,
// as the worker does, so the window's wait sleeps exactly as in a real run.
struct ScriptedRuns {
    static constexpr int kHang = -1;

    std::vector<int> outcomes;          // per row; rows beyond it answer
    std::vector<ProbeFailure> failures; // why a row failed; rows beyond it timed out
    std::int64_t roundTripUs = 1500;    // of every answer
    int stepMs = 5;
    std::size_t finishedAtStart = 0; // rows that end inside Start, before the window first looks
    // Rows whose probes end as the run starts, ahead of the rows before them: reported as ended
    // at once, recorded only when their turn in the list comes. They ended at endedAt.
    std::vector<std::size_t> endFirst;
    std::int64_t endedAt = 0;
    bool failToStart = false;
    std::optional<bool> uplinkAnswers; // what an uplink's echo gets, when the window sets one
    std::function<void()> onStarted; // runs right after a run has started

    int started = 0;
    int cancelled = 0;
    int finished = 0;

    std::function<std::unique_ptr<ICheckRunner>()> Factory();
};

class ScriptedCheckRunner final : public ICheckRunner {
public:
    explicit ScriptedCheckRunner(ScriptedRuns& script);
    ~ScriptedCheckRunner() override;

    void SetEndedFn(EndedFn onEnded) override { m_onEnded = std::move(onEnded); }
    void SetUplink(std::string host) override { m_uplink = std::move(host); }
    std::optional<bool> UplinkAnswered() const override {
        return m_uplink.empty() ? std::nullopt : m_script.uplinkAnswers;
    }
    bool Start(CItemList& list, StatusFn onStatus) override;
    int NotifyFd() const override { return m_fd; }
    bool Deliver() override;
    bool IsRunning() const override { return m_running; }
    std::size_t FinishedCount() const override { return m_next; }
    void Cancel() override;
    int Finish() override;

private:
    void CompleteNext();
    bool CompleteRow(); // ends the next row; false when it is one that hangs
    void Signal();

    ScriptedRuns& m_script;
    std::string m_uplink;
    CItemList* m_list = nullptr;
    StatusFn m_onStatus;
    EndedFn m_onEnded;
    std::vector<std::size_t> m_ended; // rows ended, not yet reported
    int m_fd = -1;
    bool m_running = false;
    int m_allOk = 1;
    std::size_t m_next = 0;
    std::vector<std::pair<std::size_t, int>> m_pending;
    QObject m_timers; // context of the pending steps: destroyed with the runner
};
