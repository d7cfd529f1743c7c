// Soak run of unattended monitoring: the scheduler on a shortened period, every pass failing and
// raising alerts that all fail: a modem device that does not exist, mail servers on loopback that
// refuse the connection, refuse the dialogue, close in the middle of it or stay silent, a command
// that cannot start, a sound that cannot be played, a pop-up that now and then throws.
// Reports passes done and the open descriptors, threads and resident memory along the way:
// all three should stay flat once the first passes have loaded what they load once.
//
// Usage: alert_soak_bench [PASSES]   (default 500; a silent server costs 10 s, every 200th pass)
#include "CAlertDispatch.h"
#include "CCMSCommCtrl.h"
#include "CItemList.h"
#include "CPagerAlert.h"
#include "CScaledPeriodTimer.h"
#include "CScheduler.h"
#include "CSoundEffectPlayer.h"
#include "CommandLauncher.h"
#include "LoopbackPorts.h"
#include "PrivateSoundServer.h"
#include "ScriptedServer.h"
#include "SmtpAlert.h"
#include "SmtpOptions.h"
#include "TempDir.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

// The plain dialogue with the server on port.
std::string SendMailAlert(const CItemList& list, std::uint16_t port) {
    SmtpOptions options;
    options.port = port;
    return ::SendMailAlert(list, options);
}

using Clock = std::chrono::steady_clock;
using testsupport::ScriptedServer;

constexpr int kDefaultPasses = 500;
constexpr int kWarmUpPasses = 10;
constexpr int kReportEvery = 100;
constexpr int kSilentServerEvery = 200; // each silent server holds its pass for the socket's 10 s
constexpr int kPopupThrowsEvery = 25;
// One minute of the schedule lasts this long here.
constexpr std::int64_t kShortMinuteMs = 20;

struct Usage {
    long descriptors = 0;
    long threads = 0;
    long residentKb = 0;
};

long StatusField(const std::string& name) {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == name + ":") {
            long value = 0;
            status >> value;
            return value;
        }
        status.ignore(4096, '\n');
    }
    return -1;
}

Usage Measure() {
    Usage usage;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++usage.descriptors;
    --usage.descriptors; // the iterator's own
    usage.threads = StatusField("Threads");
    usage.residentKb = StatusField("VmRSS");
    return usage;
}

void Print(const char* when, int passes, const Usage& usage) {
    std::printf("%-22s passes %4d   descriptors %3ld   threads %3ld   resident %7ld kB\n", when, passes,
                usage.descriptors, usage.threads, usage.residentKb);
    std::fflush(stdout);
}

// The scripted mail servers a pass meets in turn; the silent one only now and then.
enum class MailFailure { Refused, RefusingDialogue, ClosingMidway, Silent };

MailFailure MailFailureFor(int pass) {
    if (pass % kSilentServerEvery == kSilentServerEvery / 2)
        return MailFailure::Silent;
    switch (pass % 3) {
    case 0:
        return MailFailure::Refused;
    case 1:
        return MailFailure::RefusingDialogue;
    default:
        return MailFailure::ClosingMidway;
    }
}

std::vector<ScriptedServer::Step> ScriptFor(MailFailure failure) {
    switch (failure) {
    case MailFailure::RefusingDialogue:
        return {ScriptedServer::Say("554 no service here\r\n"), ScriptedServer::ReadLine(),
                ScriptedServer::Say("554 go away\r\n")};
    case MailFailure::ClosingMidway:
        return {ScriptedServer::Say("220 soak.invalid\r\n"),
                ScriptedServer::ReadLine(),
                ScriptedServer::Say("250 soak.invalid\r\n"),
                ScriptedServer::ReadLine(),
                ScriptedServer::Say("250 Ok\r\n"),
                ScriptedServer::ReadLine(),
                ScriptedServer::Close()};
    default:
        return {};
    }
}

} // namespace

int main(int argc, char* argv[]) {
    const int passesWanted = argc > 1 ? std::max(1, std::atoi(argv[1])) : kDefaultPasses;

    testsupport::TempDir dir;
    // COM2, the list's default port, names a device that is not there.
    const std::string missingModem = dir.file("no-such-modem").string();
    setenv("PULSEWICK_COM2", missingModem.c_str(), 1);
    // With a sound server the unplayable file goes through the player's whole load-and-fail path;
    // without one it gets the alert sound at once.
    testsupport::PrivateSoundServer soundServer;
    if (soundServer.IsUp())
        setenv("PULSE_SERVER", soundServer.Address().c_str(), 1);
    const std::string noise = dir.file("noise.wav").string();
    testsupport::WriteFileBytes(noise, std::vector<unsigned char>(4096, 0x5a));
    const std::string missingSound = dir.file("missing.wav").string();

    QCoreApplication app(argc, argv);

    CItemList list;
    list.m_nPeriod = 1;
    list.m_strServer = "127.0.0.1";
    list.m_strFrom = "soak@pulsewick.invalid";
    list.m_strTo = "admin@pulsewick.invalid";
    list.m_strSubject = "Connections down";
    auto item = std::make_unique<CItem>();
    item->m_strAddress = "host.invalid";
    item->m_bResult = 0;
    list.AddTail(std::move(item));

    CCMSCommCtrl comm;
    CShellCommandLauncher launcher;
    int alertSounds = 0;
    CSoundEffectPlayer player([&alertSounds] { ++alertSounds; });
    testsupport::LoopbackPort refusing(testsupport::LoopbackPort::Kind::closed);

    int pass = 0;
    int popups = 0;
    int popupThrows = 0;
    std::map<std::string, int> pagerErrors;
    std::map<std::string, int> mailOutcomes;

    CAlertDispatch::Hooks alertHooks;
    alertHooks.settings = [&] {
        CAlertDispatch::Settings settings;
        settings.m_bPopup = 1;
        settings.m_strSoundFile = pass % 2 == 0 ? noise : missingSound;
        // The shell starts, the command it names cannot; its complaint is kept off the report.
        settings.m_strExecute = dir.file("no-such-command").string() + " 2>/dev/null";
        settings.m_bPager = 1;
        settings.m_bMail = 1;
        return settings;
    };
    alertHooks.showInformation = [&](const std::string&) {
        if (pass % kPopupThrowsEvery == 0) {
            ++popupThrows;
            throw std::bad_alloc();
        }
        ++popups;
    };
    alertHooks.showStopError = [&](const std::string& text) { ++pagerErrors[text]; };
    alertHooks.sendPagerAlert = CAlertDispatch::AtOnce([&] { CPagerAlert(comm, list).SendPagerAlert(); });
    alertHooks.sendMailAlert = CAlertDispatch::AtOnce([&] {
        const MailFailure failure = MailFailureFor(pass);
        if (failure == MailFailure::Refused) {
            ++mailOutcomes[SendMailAlert(list, refusing.Port())];
            return;
        }
        ScriptedServer server(ScriptFor(failure));
        ++mailOutcomes[SendMailAlert(list, server.Port())];
    });
    CAlertDispatch dispatch(std::move(alertHooks), player, launcher);

    std::unique_ptr<CScheduler> scheduler;
    Usage warm;
    CScheduler::Hooks hooks;
    hooks.checkConnections = [&] {
        ++pass;
        return 0; // every pass fails, so every pass raises the alerts
    };
    hooks.raiseAlerts = [&](const std::function<void()>& done) {
        dispatch.RaiseAlerts(done);
        if (pass == kWarmUpPasses) {
            warm = Measure();
            Print("after warm-up", pass, warm);
        } else if (pass % kReportEvery == 0) {
            Print("", pass, Measure());
        }
        if (pass >= passesWanted) {
            scheduler->StopMonitoring();
            QCoreApplication::exit(0);
        }
    };
    hooks.period = [&list] { return list.m_nPeriod; };
    scheduler = std::make_unique<CScheduler>(std::move(hooks), std::make_unique<CScaledPeriodTimer>(kShortMinuteMs));

    std::printf("soak: %d passes, one minute = %lld ms, sound server %s\n", passesWanted,
                static_cast<long long>(kShortMinuteMs), soundServer.IsUp() ? "up" : "not available");
    const Usage start = Measure();
    Print("start", 0, start);
    const auto began = Clock::now();
    scheduler->StartMonitoring();
    QCoreApplication::exec();
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();

    // Let effects that are still failing finish and deferred deletions run.
    QEventLoop settle;
    QTimer::singleShot(1000, &settle, &QEventLoop::quit);
    settle.exec();
    const Usage end = Measure();
    Print("end", pass, end);

    std::printf("passes done %d in %.1f s; timer armed at the end: %s\n", pass, seconds,
                scheduler->m_nTimerID != 0 ? "yes" : "no (stopped)");
    std::printf("pop-ups %d, pop-ups that threw %d, alert sounds %d\n", popups, popupThrows, alertSounds);
    for (const auto& [text, count] : pagerErrors)
        std::printf("pager error x%d: %s\n", count, text.c_str());
    for (const auto& [text, count] : mailOutcomes)
        std::printf("mail outcome x%d: %s\n", count, text.c_str());
    std::printf("change warm-up -> end: descriptors %+ld, threads %+ld, resident %+ld kB\n",
                end.descriptors - warm.descriptors, end.threads - warm.threads, end.residentKb - warm.residentKb);
    return pass >= passesWanted ? 0 : 1;
}
