#pragma once

#include "CCheckRun.h"
#include "ICheckRunner.h"

// ICheckRunner on the shared check run of core/.
class CCheckRunner final : public ICheckRunner {
public:
    void SetEndedFn(EndedFn onEnded) override { m_run.SetEndedFn(std::move(onEnded)); }
    void SetProbeSettings(const ProbeSettings& settings) override { m_run.SetProbeSettings(settings); }
    void SetUplink(std::string host) override { m_run.SetUplink(std::move(host)); }
    std::optional<bool> UplinkAnswered() const override { return m_run.UplinkAnswered(); }
    bool Start(CItemList& list, StatusFn onStatus) override { return m_run.Start(list, std::move(onStatus)); }
    int NotifyFd() const override { return m_run.NotifyFd(); }
    bool Deliver() override { return m_run.Deliver(); }
    bool IsRunning() const override { return m_run.IsRunning(); }
    std::size_t FinishedCount() const override { return m_run.FinishedCount(); }
    void Cancel() override { m_run.Cancel(); }
    int Finish() override { return m_run.Finish(); }

private:
    CCheckRun m_run;
};
