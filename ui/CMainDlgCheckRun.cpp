// The window side of a check run: the progress window, the disabled main window, and a wait
// that sleeps until the worker reports (never a busy loop).
#include "CMainDlg.h"

#include "CItemList.h"
#include "CProgressDlg.h"
#include "ScopedDisabled.h"
#include "ScopedValue.h"

#include <QEventLoop>
#include <QSocketNotifier>

int CMainDlg::CheckConnections() {
    if (m_bInCheckRun)
        return 1; // never two runs at once; the scheduler does not ask for one
    std::unique_ptr<ICheckRunner> runner = m_services.makeCheckRunner();
    runner->SetProbeSettings(m_probeSettings);
    runner->SetUplink(m_uplink);
    runner->SetEndedFn([this](std::size_t row, const ProbeOutcome& outcome, std::int64_t endedAt) {
        ShowProbeEnded(row, outcome, endedAt);
    });
    int result = 1; // a run whose worker could not start probed nothing and found no failure
    std::optional<bool> uplinkAnswered;
    {
        // However the run ends, a failure included (no memory for the progress window), the
        // window comes back enabled and the next run is free to start.
        const ScopedValue<bool> inCheckRun(m_bInCheckRun, true);
        m_currentPass = {};
        m_passRecord.Start(m_pList->GetCount());
        m_alertFailure.clear(); // told until this pass
        const bool started = runner->Start(*m_pList, [this](std::size_t row, const CItem&, int result) {
            m_passRecord.Probed(row, result);
            SetRowStatus(row, result);
        });

        ScopedDisabled disabled(*this);
        if (started) {
            auto progress = std::make_unique<CProgressDlg>(this);
            progress->setEnabled(true); // a child window of the disabled main window
            progress->Create();
            progress->SetTotal(m_pList->GetCount());
            UpdateStatus();
            emit checkRunStarted();

            // Every hand-over moves the bar, the first one too: probes that ended before it have
            // no wake-up of their own left.
            const auto deliver = [&] {
                const bool running = runner->Deliver();
                progress->SetFinished(runner->FinishedCount());
                return running;
            };
            QEventLoop loop;
            QSocketNotifier notifier(runner->NotifyFd(), QSocketNotifier::Read);
            connect(&notifier, &QSocketNotifier::activated, &loop, [&] {
                if (!deliver())
                    loop.quit();
            });
            connect(progress.get(), &CProgressDlg::cancelled, &loop, &QEventLoop::quit);
            if (deliver() && !progress->m_bCancelled)
                loop.exec();
            notifier.setEnabled(false);

            if (!progress->m_bCancelled)
                progress->hide();
            disabled.Enable();
            // Stops a worker that still runs (after a cancel) and hands over the rows it finished.
            result = runner->Finish();
            uplinkAnswered = runner->UplinkAnswered();
            m_currentPass.cancelled = progress->m_bCancelled;
        } else {
            emit checkRunStarted();
        }
    }
    m_passRecord.Ended();
    JudgeHolds(uplinkAnswered);
    OnPassEnded();
    emit checkRunFinished(result);
    return result;
}
