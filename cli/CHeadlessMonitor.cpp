#include "CHeadlessMonitor.h"

#include "AlertEnvironment.h"
#include "CAtomicFile.h"
#include "CCMSCommCtrl.h"
#include "CCheckRun.h"
#include "CItemList.h"
#include "CPagerAlert.h"
#include "CQtPeriodTimer.h"
#include "CScaledPeriodTimer.h"
#include "CliSupport.h"
#include "IcmpProbe.h"
#include "SmtpAlert.h"

#include <QAudioDevice>
#include <QCoreApplication>
#include <QEventLoop>
#include <QMediaDevices>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace cli {

void PrintEvent(const std::string& line) {
    const std::string text = line + "\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
}

namespace {

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
// alert says that it skipped.
class CHeadlessMonitor::StderrSoundPlayer final : public ISoundPlayer {
public:
    explicit StderrSoundPlayer(MonitorMetrics& metrics) : m_metrics(metrics), m_player([] {}) {}
    void Play(const std::string& path) override {
        if (QMediaDevices::defaultAudioOutput().isNull()) {
            PrintEvent("sound: skipped, no audio output: " + path);
            m_metrics.AlertRaised("sound", "skipped");
            return;
        }
        PrintEvent("sound: playing " + path);
        m_metrics.AlertRaised("sound", "ok");
        m_player.Play(path);
    }

private:
    MonitorMetrics& m_metrics;
    CSoundEffectPlayer m_player;
};

class CHeadlessMonitor::StderrCommandLauncher final : public ICommandLauncher {
public:
    explicit StderrCommandLauncher(MonitorMetrics& metrics) : m_metrics(metrics) {}
    bool Launch(const std::string& commandLine, const std::vector<std::string>& environment) override {
        const bool started = m_launcher.Launch(commandLine, environment);
        PrintEvent((started ? "execute: started: " : "execute: could not start: ") + commandLine);
        m_metrics.AlertRaised("execute", started ? "ok" : "failed");
        return started;
    }

private:
    MonitorMetrics& m_metrics;
    CShellCommandLauncher m_launcher;
};

CHeadlessMonitor::CHeadlessMonitor(QString path, std::unique_ptr<CItemList> list, QString metricsFile)
    : m_path(std::move(path)), m_pList(std::move(list)), m_metricsFile(std::move(metricsFile)),
      m_sound(std::make_unique<StderrSoundPlayer>(m_metrics)),
      m_launcher(std::make_unique<StderrCommandLauncher>(m_metrics)), m_nMinuteMs(MinuteMs()) {
    m_metrics.SetEntries(*m_pList);
    m_metrics.SetStartTime(std::time(nullptr));

    CAlertDispatch::Hooks alertHooks;
    alertHooks.settings = [this] { return AlertSettings(); };
    alertHooks.executeEnvironment = [this] {
        return alertenv::Environment({alertenv::kEventFailed, ToBytes(m_path), std::chrono::system_clock::now()},
                                     *m_pList);
    };
    alertHooks.showInformation = [this](const std::string& text) { ShowFailures(text); };
    alertHooks.showStopError = [this](const std::string& text) {
        PrintEvent("pager: failed: " + text);
        m_metrics.AlertRaised("pager", "failed");
    };
    alertHooks.sendPagerAlert = [this](CAlertDispatch::StepEnded ended) { SendPagerAlert(std::move(ended)); };
    alertHooks.sendMailAlert = [this](CAlertDispatch::StepEnded ended) { SendMailAlert(std::move(ended)); };
    m_alerts = std::make_unique<CAlertDispatch>(std::move(alertHooks), *m_sound, *m_launcher);

    CScheduler::Hooks schedulerHooks;
    schedulerHooks.checkConnections = [this] { return CheckConnections(); };
    schedulerHooks.raiseAlerts = [this](std::function<void()> done) {
        if (m_bStopping) {
            done();
            return;
        }
        m_alerts->RaiseAlerts([this, done = std::move(done)] {
            done();
            ReloadWhenFree();
        });
    };
    schedulerHooks.period = [this] { return m_pList->m_nPeriod; };
    m_scheduler = std::make_unique<CScheduler>(std::move(schedulerHooks), MakePeriodTimer(m_nMinuteMs));
}

CHeadlessMonitor::~CHeadlessMonitor() {
    // An alert still in flight reads the list: it is given up and joined first.
    m_alertTask.reset();
}

void CHeadlessMonitor::Start() {
    PrintEvent("monitoring " + ToBytes(m_path) + ": " + Describe(*m_pList));
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
    PrintEvent("reloaded " + ToBytes(m_path) + ": " + Describe(*m_pList));
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

int CHeadlessMonitor::CheckConnections() {
    if (m_bReloadPending)
        ReloadNow(); // asked for while the last tick was still on the stack
    m_metrics.SetPeriodSeconds(static_cast<double>(CScheduler::PeriodDelayMs(m_pList->m_nPeriod)) *
                               static_cast<double>(m_nMinuteMs) / CScheduler::kMsPerMinute / 1000.0);
    const auto started = std::chrono::steady_clock::now();
    std::size_t failed = 0;
    CCheckRun run;
    const bool running = run.Start(*m_pList, [&](std::size_t row, const CItem& item, int result) {
        m_metrics.SetResult(row, result, item.m_nLastRoundTripUs);
        failed += result ? 0 : 1;
    });
    if (!m_bReadyReported) {
        m_bReadyReported = true; // the first pass has started: the service is up
        m_service.Ready();
    }
    if (!running) {
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
    if (m_bStopping)
        return result;

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    m_metrics.PassFinished(result == 0, seconds, std::time(nullptr));
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.3f s", seconds);
    const std::size_t count = m_pList->GetCount();
    PrintEvent("pass " + std::to_string(++m_nPass) + ": " +
               (result ? "all " + std::to_string(count) + " answered"
                       : std::to_string(failed) + " of " + std::to_string(count) + " did not answer") +
               " (" + duration + ")");
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
        ++row;
        if (item.m_bResult == 0)
            PrintEvent("failed: row " + std::to_string(row) + ": " + item.m_strAddress + ":" + PortColumnText(item));
    });
    m_metrics.AlertRaised("popup", "ok");
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
    auto outcome = std::make_shared<std::string>();
    const CItemList& list = *m_pList;
    const std::uint16_t port = SmtpPort();
    m_alertTask = std::make_unique<CBackgroundTask>(
        &m_context, [&list, port, outcome](std::stop_token stop) { *outcome = ::SendMailAlert(list, port, stop); },
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
    if (m_metricsFile.isEmpty())
        return;
    // node_exporter reads the file at any moment: it must never see half of it.
    std::string target;
    int error = CAtomicFile::ResolveLinks(ToBytes(m_metricsFile), target);
    if (error == 0) {
        const std::string text = m_metrics.Text();
        CAtomicFile file(target);
        error = file.Open();
        if (error == 0)
            error = WriteAll(file.Descriptor(), text.data(), text.size());
        if (error == 0)
            error = file.Commit();
    }
    if (error != 0)
        PrintEvent("metrics file: writing " + target + " failed: " + std::strerror(error));
}

} // namespace cli
