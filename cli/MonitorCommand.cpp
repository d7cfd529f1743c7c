#include "Commands.h"

#include "CHeadlessMonitor.h"
#include "CItemList.h"
#include "CMetricsServer.h"
#include "CSignalWatcher.h"
#include "HostName.h"
#include "ListenAddress.h"
#include "MailOptions.h"
#include "QtText.h"
#include "SystemdSockets.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <malloc.h>

#include <csignal>
#include <optional>
#include <tuple>

namespace cli {

namespace {

// glibc's starting threshold, held there.
constexpr int kMmapThresholdBytes = 128 * 1024;

// A number of passes for --alert-after or --realert-every ("never" where allowed); none when the
// text is neither.
std::optional<std::int32_t> ParsePasses(const QString& text, bool neverAllowed) {
    if (neverAllowed && text == QStringLiteral("never"))
        return CAlertPolicy::kNever;
    bool ok = false;
    const int passes = text.toInt(&ok);
    if (!ok || passes < 1 || passes > CAlertPolicy::kMaxPasses)
        return std::nullopt;
    return passes;
}

} // namespace

int RunMonitor(const Args& argv) {
    Args rest = argv;
    ProbeSettings probeSettings;
    if (const auto why = TakeProbeOptions(rest, probeSettings)) {
        PrintError(*why);
        return UsageError(kMonitorSynopsis);
    }
    const QStringList args = ToQStringList(rest);
    QCommandLineParser parser;
    const QCommandLineOption metricsOption(QStringLiteral("metrics"), QString(), QStringLiteral("HOST:PORT"));
    const QCommandLineOption metricsFileOption(QStringLiteral("metrics-file"), QString(), QStringLiteral("PATH"));
    const QCommandLineOption webConfigOption(QStringLiteral("web-config"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption alertAfterOption(QStringLiteral("alert-after"), QString(), QStringLiteral("N"));
    const QCommandLineOption realertOption(QStringLiteral("realert-every"), QString(), QStringLiteral("K"));
    const QCommandLineOption recoveryOption(QStringLiteral("notify-recovery"));
    const QCommandLineOption uplinkOption(QStringLiteral("uplink"), QString(), QStringLiteral("HOST"));
    const QCommandLineOption behindOption(QStringLiteral("behind"), QString(), QStringLiteral("PARENT=CHILD"));
    const QCommandLineOption stateDirOption(QStringLiteral("state-dir"), QString(), QStringLiteral("DIR"));
    parser.addOptions({metricsOption, metricsFileOption, webConfigOption, alertAfterOption, realertOption,
                       recoveryOption, uplinkOption, behindOption, stateDirOption});
    parser.addOptions(MailCommandLineOptions());
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    if (!parser.parse(QStringList{QStringLiteral("monitor")} + args) || parser.positionalArguments().size() != 1 ||
        parser.values(metricsOption).size() > 1 || parser.values(metricsFileOption).size() > 1 ||
        parser.values(webConfigOption).size() > 1 || parser.values(alertAfterOption).size() > 1 ||
        parser.values(realertOption).size() > 1 || parser.values(uplinkOption).size() > 1 ||
        parser.values(stateDirOption).size() > 1 ||
        (parser.isSet(uplinkOption) && parser.value(uplinkOption).isEmpty()) ||
        (parser.isSet(stateDirOption) && parser.value(stateDirOption).isEmpty()))
        return UsageError(kMonitorSynopsis);
    const std::string path = ToBytes(parser.positionalArguments().front());

    std::optional<ListenAddress> listen;
    if (parser.isSet(metricsOption)) {
        listen = ParseListenAddress(ToBytes(parser.value(metricsOption)));
        if (!listen) {
            PrintError(QStringLiteral("not an address and port: '%1'").arg(parser.value(metricsOption)));
            return UsageError(kMonitorSynopsis);
        }
    }
    const std::string metricsFile = ToBytes(parser.value(metricsFileOption));
    // Taken at once: it changes the environment, which only this thread may touch yet.
    SystemdSockets activation = TakeSystemdSockets();
    if (!activation.error.empty()) {
        PrintError("cannot serve metrics: " + activation.error);
        return kExitFailed;
    }
    const bool serving = listen || !activation.sockets.empty();
    const std::string webConfig = ToBytes(parser.value(webConfigOption));
    if (parser.isSet(webConfigOption) && (!serving || webConfig.empty())) {
        PrintError(std::string("--web-config FILE needs --metrics or a socket from systemd"));
        return UsageError(kMonitorSynopsis);
    }

    CAlertPolicy::Settings policy;
    policy.notifyRecovery = parser.isSet(recoveryOption);
    for (const auto& [option, neverAllowed, target] :
         {std::tuple{&alertAfterOption, false, &policy.alertAfter}, {&realertOption, true, &policy.realertEvery}}) {
        if (!parser.isSet(*option))
            continue;
        const std::optional<std::int32_t> passes = ParsePasses(parser.value(*option), neverAllowed);
        if (!passes) {
            PrintError(QStringLiteral("--%1 needs a number of passes from 1 to %2%3: '%4'")
                           .arg(option->names().front())
                           .arg(CAlertPolicy::kMaxPasses)
                           .arg(neverAllowed ? QStringLiteral(" or never") : QString())
                           .arg(parser.value(*option)));
            return UsageError(kMonitorSynopsis);
        }
        *target = *passes;
    }

    CHeadlessMonitor::HoldSettings holds{
        ToBytes(parser.value(uplinkOption)), {}, ToBytes(parser.value(stateDirOption))};
    // An uplink that can never answer would hold every alert for ever.
    if (const auto why = holds.uplink.empty() ? std::nullopt : WhyNotHostName(holds.uplink)) {
        PrintError("--uplink: " + *why);
        return UsageError(kMonitorSynopsis);
    }
    for (const QString& value : parser.values(behindOption)) {
        if (const auto why = holds.parents.Add(ToBytes(value))) {
            PrintError("--behind: " + *why);
            return UsageError(kMonitorSynopsis);
        }
    }

    int exitCode = kExitOk;
    const std::optional<SmtpOptions> mailOptions = ReadMailOptions(parser, exitCode);
    if (!mailOptions)
        return exitCode == kExitUsage ? UsageError(kMonitorSynopsis) : exitCode;
    std::unique_ptr<CItemList> list = LoadListOrReport(path, exitCode);
    if (!list)
        return exitCode;
    std::vector<std::size_t> parentOf;
    if (const auto why = holds.parents.Resolve(*list, parentOf)) {
        PrintError("--behind for " + path + ": " + *why);
        return kExitUsage;
    }

    // A reader of standard error that went away (a log pipe), or a metrics client that hung up,
    // must not end the monitor: the write fails and monitoring goes on.
    ::signal(SIGPIPE, SIG_IGN);

    // The monitor runs for months with a heap that should stay its size. One heap for all
    // threads: in an arena of its own the check run's worker keeps what a pass of a long list
    // freed (2 MiB with 10,000 entries of 5 echoes) where the main thread cannot use it; they
    // seldom allocate at the same moment. And large blocks (a pass's tables, the copies of the
    // metrics that scrapes hold) always from the system, returned when freed, where glibc would
    // otherwise raise the threshold after the first such free and keep them in the heap.
    ::mallopt(M_ARENA_MAX, 1);
    ::mallopt(M_MMAP_THRESHOLD, kMmapThresholdBytes);
    // Before anything can start a thread: every thread must inherit the blocked signals.
    CHeadlessMonitor* monitor = nullptr;
    CMetricsServer* metrics = nullptr;
    CSignalWatcher watcher([&monitor] { monitor ? monitor->Stop() : QCoreApplication::exit(0); },
                           [&monitor, &metrics] {
                               if (monitor)
                                   monitor->Reload();
                               if (metrics)
                                   metrics->ReloadWebConfig();
                           });
    if (!watcher.IsValid()) {
        PrintError(std::string("signals cannot be received"));
        return kExitFailed;
    }

    CHeadlessMonitor headless(path, std::move(list), metricsFile, policy);
    headless.SetMailOptions(*mailOptions);
    headless.SetProbeSettings(probeSettings);
    headless.SetHoldSettings(std::move(holds));
    std::unique_ptr<CMetricsServer> server;
    if (serving) {
        server = std::make_unique<CMetricsServer>([&headless] { return headless.Metrics().Now(); },
                                                  ToBytes(QCoreApplication::applicationVersion()));
        if (const auto error = server->Start(webConfig)) {
            PrintError("cannot use the web configuration " + webConfig + ": " + *error);
            return kExitFileError;
        }
        if (const auto error = listen ? server->Listen(*listen) : std::nullopt) {
            PrintError("cannot serve metrics on " + ToBytes(parser.value(metricsOption)) + ": " + *error);
            return kExitFailed;
        }
        for (UniqueFd& socket : activation.sockets)
            server->AdoptListener(std::move(socket));
        for (const std::string& url : server->Urls())
            PrintEvent("metrics on " + url);
    }
    monitor = &headless;
    metrics = server.get();
    headless.Start();
    QCoreApplication::exec();
    monitor = nullptr;
    metrics = nullptr;
    return kExitOk;
}

} // namespace cli
