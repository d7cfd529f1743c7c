#include "Commands.h"

#include "CHeadlessMonitor.h"
#include "CItemList.h"
#include "CMetricsServer.h"
#include "CSignalWatcher.h"
#include "MailOptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>

namespace cli {

int RunMonitor(const QStringList& args) {
    QCommandLineParser parser;
    const QCommandLineOption metricsOption(QStringLiteral("metrics"), QString(), QStringLiteral("HOST:PORT"));
    const QCommandLineOption metricsFileOption(QStringLiteral("metrics-file"), QString(), QStringLiteral("PATH"));
    parser.addOptions({metricsOption, metricsFileOption});
    parser.addOptions(MailCommandLineOptions());
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    if (!parser.parse(QStringList{QStringLiteral("monitor")} + args) || parser.positionalArguments().size() != 1 ||
        parser.values(metricsOption).size() > 1 || parser.values(metricsFileOption).size() > 1)
        return UsageError(kMonitorSynopsis);
    const QString path = parser.positionalArguments().front();

    std::optional<ListenAddress> listen;
    if (parser.isSet(metricsOption)) {
        listen = ParseListenAddress(parser.value(metricsOption));
        if (!listen) {
            PrintError(QStringLiteral("not an address and port: '%1'").arg(parser.value(metricsOption)));
            return UsageError(kMonitorSynopsis);
        }
    }
    const QString metricsFile = parser.value(metricsFileOption);

    int exitCode = kExitOk;
    const std::optional<SmtpOptions> mailOptions = ReadMailOptions(parser, exitCode);
    if (!mailOptions)
        return exitCode == kExitUsage ? UsageError(kMonitorSynopsis) : exitCode;
    std::unique_ptr<CItemList> list = LoadListOrReport(path, exitCode);
    if (!list)
        return exitCode;

    // A reader of standard error that went away (a log pipe), or a metrics client that hung up,
    // must not end the monitor: the write fails and monitoring goes on.
    ::signal(SIGPIPE, SIG_IGN);

    // Before anything can start a thread: every thread must inherit the blocked signals.
    CHeadlessMonitor* monitor = nullptr;
    CSignalWatcher watcher([&monitor] { monitor ? monitor->Stop() : QCoreApplication::exit(0); },
                           [&monitor] {
                               if (monitor)
                                   monitor->Reload();
                           });
    if (!watcher.IsValid()) {
        PrintError(std::string("signals cannot be received"));
        return kExitFailed;
    }

    CHeadlessMonitor headless(path, std::move(list), metricsFile);
    headless.SetMailOptions(*mailOptions);
    std::unique_ptr<CMetricsServer> server;
    if (listen) {
        server = std::make_unique<CMetricsServer>([&headless] { return headless.Metrics().Text(); });
        if (const auto error = server->Listen(listen->host, listen->port)) {
            PrintError("cannot serve metrics on " + ToBytes(parser.value(metricsOption)) + ": " + *error);
            return kExitFailed;
        }
        const QString host = listen->host.protocol() == QAbstractSocket::IPv6Protocol
                                 ? QLatin1Char('[') + listen->host.toString() + QLatin1Char(']')
                                 : listen->host.toString();
        PrintEvent("metrics on http://" + ToBytes(host) + ":" + std::to_string(server->Port()) + "/metrics");
    }
    monitor = &headless;
    headless.Start();
    QCoreApplication::exec();
    monitor = nullptr;
    return kExitOk;
}

} // namespace cli
