#include "CHeadlessMonitor.h"

#include "AlertEnvironment.h"
#include "CAtomicFile.h"
#include "CCMSCommCtrl.h"
#include "CCheckRun.h"
#include "CItemList.h"
#include "CPagerAlert.h"
#include "CQtPeriodTimer.h"
#include "CScaledPeriodTimer.h"
#include "CSoundModule.h"
#include "CliSupport.h"
#include "EntryNames.h"
#include "IcmpProbe.h"
#include "MetricsExposition.h"
#include "MuteOptions.h"
#include "SmtpAlert.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <unistd.h>
#include <vector>

namespace cli {

void PrintEvent(const std::string& line) {
    const std::string text = line + "\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
}

namespace {

// What the metrics file is written in at a time.
constexpr std::size_t kMetricsFileBlockBytes = 64 * 1024;

std::string Describe(const CItemList& list) {
    const std::size_t count = list.GetCount();
    return std::to_string(count) + (count == 1 ? " entry" : " entries") + ", every " +
           std::to_string(CScheduler::PeriodDelayMs(list.m_nPeriod) / CScheduler::kMsPerMinute) + " min";
}

// How long a minute of the period lasts, in milliseconds.
std::int64_t MinuteMs() {
    bool ok = false;
    const int minuteMs = qEnvironmentVariableIntValue(CHeadlessMonitor::kMinuteOverride, &ok);
    return ok && minuteMs > 0 ? minuteMs : CScheduler::kMsPerMinute;
}

std::unique_ptr<IPeriodTimer> MakePeriodTimer(std::int64_t minuteMs) {
    if (minuteMs != CScheduler::kMsPerMinute)
        return std::make_unique<CScaledPeriodTimer>(minuteMs);
    return std::make_unique<CQtPeriodTimer>();
}

} // namespace

// Plays the sound when an audio output can be reached; a server usually has none, and then the
// alert says that it skipped. The player comes from the sound module, loaded at the start when
// the list plays a sound, else at the first sound alert (after a reload that turned it on).
class CHeadlessMonitor::StderrSoundPlayer final : public ISoundPlayer {
public:
    explicit StderrSoundPlayer(MonitorMetrics& metrics) : m_metrics(metrics) {}
    // Loads the module ahead of the first alert; a failure is told by the alert.
    void Prepare() { (void)m_module.Load(); }
    void Play(const std::string& path) override {
        if (const std::string error = m_module.Load(); !error.empty()) {
            PrintEvent("sound: failed, no sound module (" + error + "): " + path);
            m_metrics.AlertRaised("sound", "failed");
            return;
        }
        if (!m_module.HasAudioOutput()) {
            PrintEvent("sound: skipped, no audio output: " + path);
            m_metrics.AlertRaised("sound", "skipped");
            return;
        }
        PrintEvent("sound: playing " + path);
        m_metrics.AlertRaised("sound", "ok");
        m_module.Player().Play(path);
    }

private:
    MonitorMetrics& m_metrics;
    CSoundModule m_module;
};

class CHeadlessMonitor::StderrCommandLauncher final : public ICommandLauncher {
public:
    explicit StderrCommandLauncher(MonitorMetrics& metrics) : m_metrics(metrics) {}
    bool Launch(const std::string& commandLine, const CommandInput& input) override {
        using Started = CShellCommandLauncher::Started;
        const Started started = m_launcher.Start(commandLine, input);
        PrintEvent(std::string(started == Started::yes            ? "execute: started: "
                               : started == Started::withoutInput ? "execute: started without its standard input "
                                                                    "(no descriptor or process to spare): "
                                                                  : "execute: could not start: ") +
                   commandLine);
        m_metrics.AlertRaised("execute", started != Started::no ? "ok" : "failed");
        return started != Started::no;
    }

private:
    MonitorMetrics& m_metrics;
    CShellCommandLauncher m_launcher;
};

CHeadlessMonitor::CHeadlessMonitor(std::string path, std::unique_ptr<CItemList> list, std::string metricsFile,
                                   CAlertPolicy::Settings policy)
    : m_path(std::move(path)), m_pList(std::move(list)), m_metricsFile(std::move(metricsFile)),
      m_sound(std::make_unique<StderrSoundPlayer>(m_metrics)),
      m_launcher(std::make_unique<StderrCommandLauncher>(m_metrics)), m_nMinuteMs(MinuteMs()), m_policy(policy) {
    m_metrics.SetEntries(*m_pList);
    m_metrics.SetStartTime(std::time(nullptr));

    CAlertDispatch::Hooks alertHooks;
    alertHooks.settings = [this] { return AlertSettings(); };
    alertHooks.executeInput = [this](const std::string& commandLine) {
        const bool recovered = m_alerts->CurrentEvent() == CAlertDispatch::Event::recovered;
        return alertenv::ForCommand(
            {recovered ? alertenv::kEventRecovered : alertenv::kEventFailed, m_path, m_passRecord.EndedAt()}, *m_pList,
            commandLine, &m_holds);
    };
    alertHooks.showInformation = [this](const std::string& text) { ShowFailures(text); };
    alertHooks.showStopError = [this](const std::string& text) {
        PrintEvent("pager: failed: " + text);
        m_metrics.AlertRaised("pager", "failed");
    };
    alertHooks.sendPagerAlert = [this](CAlertDispatch::StepEnded ended) { SendPagerAlert(std::move(ended)); };
    alertHooks.sendMailAlert = [this](CAlertDispatch::StepEnded ended) { SendMailAlert(std::move(ended)); };
    alertHooks.sendRecoveryMail = [this](CAlertDispatch::StepEnded ended) { SendRecoveryMail(std::move(ended)); };
    m_alerts = std::make_unique<CAlertDispatch>(std::move(alertHooks), *m_sound, *m_launcher);

    CScheduler::Hooks schedulerHooks;
    schedulerHooks.checkConnections = [this] { return CheckConnections(); };
    schedulerHooks.passEnded = [this](int result, std::function<void()> done) { PassEnded(result, std::move(done)); };
    schedulerHooks.period = [this] { return m_pList->m_nPeriod; };
    m_scheduler = std::make_unique<CScheduler>(std::move(schedulerHooks), MakePeriodTimer(m_nMinuteMs));
}

CHeadlessMonitor::~CHeadlessMonitor() {
    // An alert still in flight reads the list: it is given up and joined first.
    m_alertTask.reset();
}

void CHeadlessMonitor::SetProbeSettings(const ProbeSettings& settings) {
    m_probeSettings = settings;
    m_metrics.SetMeasuresLink(settings.MeasuresLink());
}

void CHeadlessMonitor::SetHoldSettings(HoldSettings settings) {
    m_uplink = std::move(settings.uplink);
    m_parents = std::move(settings.parents);
    m_stateDir = std::move(settings.stateDir);
    ResolveParents();
}

void CHeadlessMonitor::ResolveParents() {
    m_parentOf.clear();
    if (m_parents.IsEmpty())
        return;
    if (const auto why = m_parents.Resolve(*m_pList, m_parentOf)) {
        PrintEvent("behind: " + *why + "; no entry is held behind a parent until --behind or the list is mended");
        m_parentOf.clear();
        return;
    }
    for (std::size_t row = 0; row < m_parentOf.size(); ++row) {
        if (m_parentOf[row] != EntryParents::kNone)
            m_metrics.SetParent(row, entrynames::EntryName(m_pList->GetAt(m_parentOf[row])));
    }
}

void CHeadlessMonitor::ReadMutes(std::int64_t now) {
    std::string problem;
    // Found from the list's path anew each time, as the companion's mute finds it: a list whose
    // link was pointed elsewhere is muted under its new canonical path.
    m_mutes = MuteFile(m_stateDir, m_path).Read(problem);
    if (problem != m_muteProblem) {
        m_muteProblem = problem;
        if (!problem.empty())
            PrintEvent("mute: " + problem + "; only what could be read holds");
    }
    std::vector<std::string> lines = MuteLines(m_mutes, now);
    if (lines == m_muteLines)
        return;
    for (const std::string& line : lines)
        PrintEvent("muted: " + line);
    if (lines.empty())
        PrintEvent("muted: nothing any more");
    m_muteLines = std::move(lines);
}

void CHeadlessMonitor::JudgeHolds() {
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    ReadMutes(now);
    m_holds = JudgePass(*m_pList, m_passRecord, {m_uplinkAnswered, &m_mutes, now, &m_parentOf});
    for (std::size_t row = 0; row < m_pList->GetCount(); ++row)
        m_metrics.SetHolds(row, row < m_holds.mutedUntil.size() ? m_holds.mutedUntil[row] : 0,
                           m_holds.reach.Unreachable(row));
    if (m_uplink.empty())
        return;
    m_metrics.SetUplink(m_uplink, m_uplinkAnswered);
    std::string unjudged = UnjudgedUplinkText(m_uplink, m_uplinkAnswered, m_uplinkFailure);
    if (!unjudged.empty() && unjudged != m_unjudgedLine)
        PrintEvent(unjudged);
    m_unjudgedLine = std::move(unjudged);
}

void CHeadlessMonitor::Start() {
    PrintEvent("monitoring " + m_path + ": " + Describe(*m_pList));
    if (!m_pList->m_strSoundFile.empty()) // the sound alert is on
        m_sound->Prepare();
    m_scheduler->StartMonitoring();
}

void CHeadlessMonitor::Stop() {
    if (m_bStopping)
        return;
    m_bStopping = true;
    PrintEvent("stopping");
    m_service.Stopping();
    m_scheduler->StopMonitoring();
    if (m_alertTask)
        m_alertTask->RequestStop();
    if (m_run)
        m_run->Cancel();
    if (m_runLoop)
        m_runLoop->quit();
    QCoreApplication::exit(0);
}

void CHeadlessMonitor::Reload() {
    if (m_bStopping)
        return;
    // The list must not change under a pass or its alerts (the e-mail names the failed entries).
    if (m_scheduler->IsBusy()) {
        m_bReloadPending = true;
        return;
    }
    ReloadNow();
}

void CHeadlessMonitor::ReloadWhenFree() {
    // Posted, so it runs once the tick that is on the stack now has ended.
    if (m_bReloadPending)
        QTimer::singleShot(0, &m_context, [this] {
            if (m_bReloadPending && !m_bStopping && !m_scheduler->IsBusy())
                ReloadNow();
        });
}

void CHeadlessMonitor::ReloadNow() {
    m_bReloadPending = false;
    int exitCode = kExitOk;
    std::unique_ptr<CItemList> list = LoadListOrReport(m_path, exitCode);
    if (!list) {
        PrintEvent("reload: kept the previous list");
        return;
    }
    m_pList = std::move(list);
    m_metrics.SetEntries(*m_pList);
    m_degraded.clear();
    PrintEvent("reloaded " + m_path + ": " + Describe(*m_pList));
    ResolveParents();
}

CAlertDispatch::Settings CHeadlessMonitor::AlertSettings() const {
    CAlertDispatch::Settings s;
    if (m_bStopping)
        return s;
    s.m_bPopup = m_pList->m_bPopup;
    s.m_strSoundFile = m_pList->m_strSoundFile;
    s.m_strExecute = m_pList->m_strExecute;
    s.m_bPager = m_pList->m_bPager;
    s.m_bMail = m_pList->m_bMail;
    return s;
}

void CHeadlessMonitor::PassEnded(int result, std::function<void()> done) {
    if (m_bStopping) {
        done();
        return;
    }
    auto finish = [this, done = std::move(done)] {
        done();
        ReloadWhenFree();
    };
    const bool wasCutOff = m_policy.IsCutOff();
    const CAlertPolicy::Decision decision =
        m_policy.PassEnded(m_passRecord.Results(*m_pList, &m_holds), m_holds.cutOff);
    if (wasCutOff && !m_policy.IsCutOff())
        PrintEvent(UplinkBackText(m_uplink));
    switch (decision) {
    case CAlertPolicy::Decision::cutOff:
        PrintEvent(CutOffText(m_uplink, m_uplinkFailure));
        finish();
        return;
    case CAlertPolicy::Decision::alert:
        m_alerts->RaiseAlerts(std::move(finish));
        return;
    case CAlertPolicy::Decision::recovered: {
        std::string names;
        for (const std::string& name : m_policy.RecoveredEntries())
            names += (names.empty() ? "" : ", ") + name;
        PrintEvent("recovered: " + names);
        m_alerts->RaiseRecovery(std::move(finish));
        return;
    }
    case CAlertPolicy::Decision::none: {
        bool held = false;           // a failure that a mute or a parent holds
        bool failedOnItsOwn = false; // one that nothing holds
        for (std::size_t row = 0; row < m_pList->GetCount(); ++row) {
            if (m_passRecord.Failed(row))
                (m_holds.Held(row) ? held : failedOnItsOwn) = true;
        }
        if (result == 0 && !m_holds.cutOff && held && !failedOnItsOwn)
            PrintEvent("alerts: held by a mute");
        else if (result == 0 && !m_holds.cutOff)
            PrintEvent("alerts: held back, failing for " + std::to_string(m_policy.OutagePasses()) +
                       (m_policy.OutagePasses() == 1 ? " pass" : " passes"));
        finish();
        return;
    }
    }
}

int CHeadlessMonitor::CheckConnections() {
    if (m_bReloadPending)
        ReloadNow(); // asked for while the last tick was still on the stack
    m_metrics.SetPeriodSeconds(static_cast<double>(CScheduler::PeriodDelayMs(m_pList->m_nPeriod)) *
                               static_cast<double>(m_nMinuteMs) / CScheduler::kMsPerMinute / 1000.0);
    const auto started = std::chrono::steady_clock::now();
    std::size_t failed = 0;
    std::size_t degraded = 0;
    m_degraded.resize(m_pList->GetCount());
    CCheckRun run;
    m_passRecord.Start(m_pList->GetCount());
    m_holds = {};
    m_uplinkAnswered.reset();
    run.SetProbeSettings(m_probeSettings);
    run.SetUplink(m_uplink);
    if (m_probeSettings.MeasuresLink())
        run.SetEndedFn([this](std::size_t row, const ProbeOutcome& outcome, std::int64_t) {
            m_metrics.ObserveAttempts(row, outcome);
        });
    const bool running = run.Start(*m_pList, [&](std::size_t row, const CItem& item, int result) {
        m_metrics.SetResult(row, result, item.m_nLastRoundTripUs);
        m_passRecord.Probed(row, result);
        failed += result ? 0 : 1;
        degraded += item.m_bLastDegraded ? 1 : 0;
        TellDegraded(row, item);
    });
    if (!m_bReadyReported) {
        m_bReadyReported = true; // the first pass has started: the service is up
        m_service.Ready();
    }
    if (!running) {
        m_passRecord.Ended();
        PrintEvent("pass: a check run could not be started");
        return 1; // it probed nothing and found no failure, as in the window
    }
    {
        QEventLoop loop;
        QSocketNotifier notifier(run.NotifyFd(), QSocketNotifier::Read);
        QObject::connect(&notifier, &QSocketNotifier::activated, &loop, [&] {
            if (!run.Deliver())
                loop.quit();
        });
        m_run = &run;
        m_runLoop = &loop;
        if (run.Deliver() && !m_bStopping)
            loop.exec();
        m_runLoop = nullptr;
        m_run = nullptr;
    }
    const int result = run.Finish();
    m_passRecord.Ended();
    m_uplinkAnswered = run.UplinkAnswered();
    m_uplinkFailure = run.UplinkFailure();
    if (m_bStopping)
        return result;
    JudgeHolds();
    std::size_t unreachable = 0;
    for (std::size_t row = 0; row < m_pList->GetCount(); ++row)
        unreachable += m_holds.reach.Unreachable(row) ? 1 : 0;

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    m_metrics.PassFinished(result == 0, seconds, std::time(nullptr));
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.3f s", seconds);
    const std::size_t count = m_pList->GetCount();
    PrintEvent("pass " + std::to_string(++m_nPass) + ": " +
               (result ? "all " + std::to_string(count) + " answered"
                       : std::to_string(failed) + " of " + std::to_string(count) + " did not answer") +
               (unreachable ? ", " + std::to_string(unreachable) + " unreachable" : std::string()) +
               (degraded ? ", " + std::to_string(degraded) + " degraded" : std::string()) + " (" + duration + ")");
    if (!m_bIcmpNoticeGiven && IsIcmpPrivilegeMissing()) {
        m_bIcmpNoticeGiven = true; // once: it does not change while the process runs
        PrintEvent("icmp: no permission for ping sockets or raw sockets, so ICMP entries read as not answering "
                   "(allow net.ipv4.ping_group_range or grant CAP_NET_RAW)");
    }
    WriteMetricsFile();
    ReloadWhenFree();
    return result;
}

void CHeadlessMonitor::ShowFailures(const std::string& text) {
    PrintEvent(text);
    std::size_t row = 0;
    m_pList->ForEach([&](const CItem& item) {
        const std::size_t at = row++;
        if (item.m_bResult != 0 || m_holds.Held(at))
            return;
        const std::int32_t behind = m_holds.reach.Behind(at);
        PrintEvent("failed: row " + std::to_string(row) + ": " + item.m_strAddress + ":" + PortColumnText(item) +
                   (behind ? ", " + BehindText(behind) : std::string()));
    });
    m_metrics.AlertRaised("popup", "ok");
}

void CHeadlessMonitor::TellDegraded(std::size_t row, const CItem& item) {
    // An entry that failed is not "no longer degraded": its failure is told as failures are.
    if (row >= m_degraded.size() || item.m_bResult == 0 || m_degraded[row] == item.m_bLastDegraded)
        return;
    m_degraded[row] = item.m_bLastDegraded;
    const std::string entry = "row " + std::to_string(row + 1) + ": " + item.m_strAddress + ":" + PortColumnText(item);
    PrintEvent(item.m_bLastDegraded ? entry + ": " + ProbeReasonText(1, item.m_nLastFailure, item.m_lastStats, true)
                                    : entry + ": no longer degraded");
}

void CHeadlessMonitor::SendPagerAlert(CAlertDispatch::StepEnded ended) {
    const CItemList& list = *m_pList;
    m_alertTask = std::make_unique<CBackgroundTask>(
        &m_context,
        [&list](std::stop_token stop) {
            // The serial port belongs to the thread that waits on it.
            CCMSCommCtrl comm;
            CPagerAlert(comm, list, {}, std::move(stop)).SendPagerAlert(); // a CCommError goes to showStopError
        },
        [this, ended = std::move(ended)](std::exception_ptr error) {
            if (m_bStopping)
                return; // given up: nothing more is raised or said
            if (!error) {
                PrintEvent("pager: called " + m_pList->m_strPagerNumber);
                m_metrics.AlertRaised("pager", "ok");
            }
            ended(error);
        });
}

void CHeadlessMonitor::SendMailAlert(CAlertDispatch::StepEnded ended) {
    SendMail([options = m_mailOptions, holds = m_holds](
                 const CItemList& list, std::stop_token stop) { return ::SendMailAlert(list, options, stop, &holds); },
             std::move(ended));
}

void CHeadlessMonitor::SendRecoveryMail(CAlertDispatch::StepEnded ended) {
    SendMail(
        [options = m_mailOptions, names = m_policy.RecoveredEntries()](const CItemList& list, std::stop_token stop) {
            return ::SendRecoveryMail(list, options, stop, names);
        },
        std::move(ended));
}

void CHeadlessMonitor::SendMail(std::function<std::string(const CItemList&, std::stop_token)> send,
                                CAlertDispatch::StepEnded ended) {
    auto outcome = std::make_shared<std::string>();
    const CItemList& list = *m_pList;
    m_alertTask = std::make_unique<CBackgroundTask>(
        &m_context,
        [&list, send = std::move(send), outcome](std::stop_token stop) { *outcome = send(list, std::move(stop)); },
        [this, outcome, ended = std::move(ended)](std::exception_ptr error) {
            if (m_bStopping)
                return;
            if (!error) {
                PrintEvent("e-mail: " + *outcome);
                m_metrics.AlertRaised("mail", *outcome == smtp::kOk ? "ok" : "failed");
            }
            ended(error);
        });
}

void CHeadlessMonitor::WriteMetricsFile() {
    if (m_metricsFile.empty())
        return;
    // node_exporter reads the file at any moment: it must never see half of it.
    std::string target;
    int error = CAtomicFile::ResolveLinks(m_metricsFile, target);
    if (error == 0) {
        CAtomicFile file(target);
        error = file.Open();
        // Written as it is rendered: a long list's text with histograms runs to tens of megabytes.
        MetricsExposition text(m_metrics.Now());
        std::vector<char> buffer(kMetricsFileBlockBytes);
        for (std::size_t n; error == 0 && (n = text.Read(buffer.data(), buffer.size())) > 0;)
            error = WriteAll(file.Descriptor(), buffer.data(), n);
        if (error == 0)
            error = file.Commit();
    }
    if (error != 0)
        PrintEvent("metrics file: writing " + target + " failed: " + std::strerror(error));
}

} // namespace cli
