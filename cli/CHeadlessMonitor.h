#pragma once

#include "CAlertDispatch.h"
#include "CAlertPolicy.h"
#include "CBackgroundTask.h"
#include "CScheduler.h"
#include "CServiceNotifier.h"
#include "CommandLauncher.h"
#include "EntryParents.h"
#include "MonitorMetrics.h"
#include "MuteFile.h"
#include "PassHolds.h"
#include "PassRecord.h"
#include "ProbeSettings.h"
#include "SmtpOptions.h"

#include <QObject>

#include <memory>
#include <optional>
#include <string>

class QEventLoop;
class CCheckRun;
class CItemList;

namespace cli {

// The window's Start without a window: the shared scheduler runs a pass at once and then one
// per period of the list, and after a failed pass the shared alert dispatch raises the list's
// alerts. What the window would show goes to standard error, one plain line per event.
class CHeadlessMonitor {
public:
    // An environment variable that shortens a minute of the period to this many milliseconds.
    // For tests, which cannot wait minutes for a second pass.
    static constexpr const char* kMinuteOverride = "PULSEWICK_MINUTE_MS";

    CHeadlessMonitor(std::string path, std::unique_ptr<CItemList> list, std::string metricsFile,
                     CAlertPolicy::Settings policy = {});
    ~CHeadlessMonitor();
    CHeadlessMonitor(const CHeadlessMonitor&) = delete;
    CHeadlessMonitor& operator=(const CHeadlessMonitor&) = delete;

    void Start();
    // Cancels a pass in flight, gives up an alert in flight, raises nothing more and ends the
    // application's event loop.
    void Stop();
    // Reads the list file again before the next pass; keeps the old list when it cannot.
    void Reload();
    // How the e-mail alert reaches its server; the plain dialogue on port 25 unless set.
    void SetMailOptions(SmtpOptions options) { m_mailOptions = std::move(options); }
    // How each pass probes its entries, and what reads as degraded.
    void SetProbeSettings(const ProbeSettings& settings);

    // What may hold alerts: an uplink echoed with every pass (none when empty), entries behind
    // parents (resolved against the list now and at every reload), and the folder of the list's
    // mute state (the user's when empty), read at the end of every pass.
    struct HoldSettings {
        std::string uplink;
        EntryParents parents;
        std::string stateDir;
    };
    void SetHoldSettings(HoldSettings settings);

    const MonitorMetrics& Metrics() const { return m_metrics; }

private:
    class StderrSoundPlayer;
    class StderrCommandLauncher;

    int CheckConnections();
    void ReloadNow();
    void ReloadWhenFree();
    void WriteMetricsFile();
    void ShowFailures(const std::string& text);
    // A row's result has come in: a line when it starts or stops being degraded.
    void TellDegraded(std::size_t row, const CItem& item);
    void SendPagerAlert(CAlertDispatch::StepEnded ended);
    void SendMailAlert(CAlertDispatch::StepEnded ended);
    void SendRecoveryMail(CAlertDispatch::StepEnded ended);
    // The e-mail step on a thread of its own: send returns the server's verdict.
    void SendMail(std::function<std::string(const CItemList&, std::stop_token)> send, CAlertDispatch::StepEnded ended);
    // A scheduled pass has ended: the policy decides whether it alerts, or ends an outage.
    void PassEnded(int result, std::function<void()> done);
    // Parents against the list as it is now; an entry no longer in it releases its children.
    void ResolveParents();
    // What holds the alerts of the pass that has just ended, and the lines and metrics of it.
    void JudgeHolds();
    // Reads the mute state; a line when what it holds changes, or when it cannot be read.
    void ReadMutes(std::int64_t now);
    CAlertDispatch::Settings AlertSettings() const;

    std::string m_path;
    std::unique_ptr<CItemList> m_pList;
    std::string m_metricsFile;
    MonitorMetrics m_metrics;
    SmtpOptions m_mailOptions;
    ProbeSettings m_probeSettings;
    std::vector<bool> m_degraded; // per row, as the last pass that probed it found
    std::unique_ptr<StderrSoundPlayer> m_sound;
    std::unique_ptr<StderrCommandLauncher> m_launcher;
    std::int64_t m_nMinuteMs; // a minute of the period, shortened for tests
    std::unique_ptr<CAlertDispatch> m_alerts;
    CAlertPolicy m_policy;
    PassRecord m_passRecord; // what the last pass probed, and when it ended
    std::string m_uplink;
    EntryParents m_parents;
    std::vector<std::size_t> m_parentOf;  // per row, as m_parents resolves in the list now
    std::string m_stateDir;               // of the mute state; empty: the default one
    MuteState m_mutes;                    // as read at the end of the last pass
    std::string m_muteProblem;            // told when it changes
    std::vector<std::string> m_muteLines; // likewise
    PassHolds m_holds;                    // of the last pass
    std::optional<bool> m_uplinkAnswered; // in the last pass
    ProbeFailure m_uplinkFailure = ProbeFailure::unknown;
    std::string m_unjudgedLine; // said last of an uplink that cannot be judged
    std::unique_ptr<CScheduler> m_scheduler;
    // The pager or e-mail alert in flight; it reads m_pList, which no reload replaces meanwhile
    // (a reload waits for the alerts), and goes before it.
    std::unique_ptr<CBackgroundTask> m_alertTask;
    CServiceNotifier m_service;
    QObject m_context;               // owns the posted calls, so none outlives the monitor
    QEventLoop* m_runLoop = nullptr; // the wait of the pass in flight
    CCheckRun* m_run = nullptr;
    bool m_bStopping = false;
    bool m_bReloadPending = false;
    bool m_bIcmpNoticeGiven = false;
    bool m_bReadyReported = false;
    std::uint64_t m_nPass = 0;
};

// One line on standard error, written in one piece.
void PrintEvent(const std::string& line);

} // namespace cli
